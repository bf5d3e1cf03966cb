// Formulas compiled to WebAssembly. When a formula compiles, the instrument writes its
// code as small modules into its own memory and asks its host for each: the host compiles
// the module over the instrument's memory and puts its one function into the
// instrument's table, where the instrument calls it. Until then, and for a module the
// host cannot compile, the formula plays from its fast form.
//
// The code of a formula refers to its record only through the address it is called with,
// so programs with the same formula share one module and one function: a bank compiles
// each of its formulas once.
export class FormulaCode {
    // `instrument` answers the instrument's exports once it is made.
    constructor(instrument) {
        this.instrument = instrument;
        this.free = []; // table entries given back, for the next module
        this.shared = new Map(); // hash of the bytes -> [{ bytes, index, users }]
        this.byIndex = new Map(); // table entry -> its sharing
        this.entered = 0; // functions in the table now
    }

    // The instrument's two imports for its formulas' code.
    imports() {
        return {
            bytoneEnterCode: (code, bytes) => {
                try {
                    return this.enter(new Uint8Array(this.instrument().memory.buffer, code, bytes));
                } catch {
                    return 0;
                }
            },
            bytoneLeaveCode: (index) => this.leave(index),
        };
    }

    enter(view) {
        const hash = fnv1a(view);
        const same = this.shared.get(hash) ?? [];
        const found = same.find((s) => s.bytes.length === view.length && s.bytes.every((b, i) => b === view[i]));
        if (found) {
            ++found.users;
            return found.index;
        }
        const { memory, __indirect_function_table: table } = this.instrument();
        const bytes = view.slice();
        const { f } = new WebAssembly.Instance(new WebAssembly.Module(bytes), { env: { memory } }).exports;
        const index = this.free.pop() ?? table.grow(1);
        table.set(index, f);
        const sharing = { bytes, index, users: 1, hash };
        same.push(sharing);
        this.shared.set(hash, same);
        this.byIndex.set(index, sharing);
        ++this.entered;
        return index;
    }

    leave(index) {
        const sharing = this.byIndex.get(index);
        if (!sharing || --sharing.users > 0) return;
        this.instrument().__indirect_function_table.set(index, null);
        this.byIndex.delete(index);
        const same = this.shared.get(sharing.hash).filter((s) => s !== sharing);
        if (same.length) this.shared.set(sharing.hash, same);
        else this.shared.delete(sharing.hash);
        this.free.push(index);
        --this.entered;
    }
}

// FNV-1a, 32 bits.
function fnv1a(bytes) {
    let hash = 0x811c9dc5;
    for (const b of bytes) hash = Math.imul(hash ^ b, 0x01000193);
    return hash >>> 0;
}
