// The instrument's imports for its formulas' code (formula_code.js), for programs that
// Emscripten's own JavaScript runs: the preset render in Node, which compiles a few
// dozen formulas and so never gives table entries back for reuse.
mergeInto(LibraryManager.library, {
    bytoneEnterCode: function (code, bytes) {
        try {
            const module = new WebAssembly.Module(HEAPU8.subarray(code, code + bytes));
            const index = wasmTable.grow(1);
            wasmTable.set(index, new WebAssembly.Instance(module, { env: { memory: wasmMemory } }).exports.f);
            return index;
        } catch (error) {
            return 0;
        }
    },
    bytoneLeaveCode: function (index) {
        wasmTable.set(index, null);
    },
});
