// Formulas compiled to WebAssembly. When a formula compiles, the instrument writes its
// code as a small module into its own memory and asks its host for it: the host compiles
// the module over the instrument's memory and puts its one function into the
// instrument's table, where the instrument calls it per sample. Until then, and for a
// module the host cannot compile, the formula plays from its fast form.
export class FormulaCode {
    // `instrument` answers the instrument's exports once it is made.
    constructor(instrument) {
        this.instrument = instrument;
        this.free = []; // table entries given back, for the next module
        this.entered = 0; // functions in the table now
    }

    // The instrument's two imports for its formulas' code.
    imports() {
        return {
            bytoneEnterCode: (code, bytes) => {
                try {
                    const { memory, __indirect_function_table: table } = this.instrument();
                    const module = new WebAssembly.Module(new Uint8Array(memory.buffer, code, bytes));
                    const { f } = new WebAssembly.Instance(module, { env: { memory } }).exports;
                    const index = this.free.pop() ?? table.grow(1);
                    table.set(index, f);
                    ++this.entered;
                    return index;
                } catch {
                    return 0;
                }
            },
            bytoneLeaveCode: (index) => {
                this.instrument().__indirect_function_table.set(index, null);
                this.free.push(index);
                --this.entered;
            },
        };
    }
}
