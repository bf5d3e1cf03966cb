// The page's editor: an instance of the instrument on the page's thread with its editor
// window open, as a host's user interface has the plug-in's. It draws, runs the scope and
// compiles as the user types, takes the programs, files and shared links, and works
// without sound; the page hands the instance in the audio worklet, which plays, what it
// changed.
import { editorWidth, Instrument } from './instrument.js';

export class EditorHost {
    // `module` is the compiled WebAssembly.Module of bytone.wasm.
    constructor(module, sampleRate) {
        this.instrument = new Instrument(module, sampleRate);
        this.instrument.openEditor();
        this.fresh = this.programs();  // what a new instance holds
    }

    // Each program's name and formula.
    programs() {
        return this.instrument.programNames().map((name, i) => ({ name, formula: this.instrument.programFormula(i) }));
    }
    // Whether program `index` (with -1, any program) is no longer what a new instance holds.
    changed({ index }) {
        const now = this.programs();
        const differs = (i) => now[i].name !== this.fresh[i].name || now[i].formula !== this.fresh[i].formula;
        return index >= 0 ? differs(index) : now.some((_, i) => differs(i));
    }
    // Another page's edit of program `index`: its name and formula, taken as the user's
    // own where it is the program shown.
    takeProgram({ index, name, formula }) {
        const i = this.instrument;
        if (index === i.program) {
            if (i.editorText(i.controls.formula) !== formula) i.type(formula);
            if (i.programName !== name) i.programName = name;
        } else {
            i.setFormula(index, formula);
            i.setProgramNameAt(index, name);
        }
    }
    // Preset `index` as a new instance holds it becomes program `into`, selected.
    usePreset({ index, into }) {
        const i = this.instrument;
        i.program = into;
        i.idle();  // loads the box with the program, so that the typing below lands in it
        i.programName = this.fresh[index].name;
        i.type(this.fresh[index].formula);
    }
    // The first program still as a new instance holds it, or -1.
    firstUnchanged() {
        const now = this.programs();
        return now.findIndex((p, i) => p.name === this.fresh[i].name && p.formula === this.fresh[i].formula);
    }

    // The host's idle call; answers with what the page shows when anything changed.
    idle({ force }) {
        const instrument = this.instrument;
        instrument.idle();
        if (!instrument.editorChanged && !force) return null;
        const image = instrument.paintEditor();
        const texts = {};
        for (const [name, which] of Object.entries(instrument.controls)) texts[name] = instrument.editorText(which);
        return {
            image,
            texts,
            // Where the box's formula is wrong, when the status says it is.
            stop: texts.status === 'OK' ? -1 : instrument.formulaStop(texts.formula),
            program: instrument.program,
            programName: instrument.programName,
            values: Object.fromEntries(Object.keys(instrument.settings).map((key) => [key, instrument.setting(key)])),
        };
    }
    // A setting changed from the page's own controls (the keyboard on a value label).
    setSetting({ key, value }) {
        this.instrument.setSetting(key, value);
    }

    layout() {
        return this.instrument.layout();
    }
    colors() {
        return this.instrument.colors();
    }
    size() {
        return { width: editorWidth, height: this.instrument.editorHeight };
    }
    // How far the keyboard steps each setting: its units per step of its label.
    steps() {
        return Object.fromEntries(Object.entries(this.instrument.settings).map(([key, { step }]) => [key, step]));
    }
    // The settings a shared link carries, by key, with the values a link may give each.
    settings() {
        const ranges = {};
        for (const [key, { lowest, highest, defaultValue }] of Object.entries(this.instrument.settings))
            ranges[key] = [Math.min(lowest, defaultValue), highest];
        return ranges;
    }
    presets() {
        return this.instrument.presets();
    }
    names() {
        return this.instrument.programNames();
    }
    type({ text }) {
        this.instrument.type(text);
    }
    pointer({ input, x, y, delta }) {
        this.instrument.pointer(input, x, y, delta ?? 0);
        return this.instrument.clipboard;
    }
    paste({ text, x, y }) {
        this.instrument.clipboard = text;
        this.instrument.pointer(0, x, y);
    }
    selectProgram({ index }) {
        this.instrument.program = index;
    }
    renameProgram({ name }) {
        this.instrument.programName = name;
    }
    // A state file, taken whole or refused; settings outside what the editor offers are
    // brought into its range, as its controls would bring them.
    load({ bytes }) {
        const error = this.instrument.loadState(bytes);
        if (error) return error;
        for (const [key, [lowest, highest]] of Object.entries(this.settings())) {
            const value = this.instrument.setting(key);
            if (value < lowest || value > highest) this.instrument.setSetting(key, Math.min(highest, Math.max(lowest, value)));
        }
        return null;
    }
    // Whether `load` would take the file: null, or why not.
    check({ bytes }) {
        return this.instrument.checkState(bytes);
    }
    // The largest file `load` takes.
    largestFile() {
        return this.instrument.scratchBytes;
    }
    save({ format }) {
        return this.instrument.saveState(format);
    }
    // The current program and the settings, for a shared link.
    program() {
        const i = this.instrument;
        const settings = {};
        for (const key of Object.keys(i.settings)) settings[key] = i.setting(key);
        return { index: i.program, name: i.programName, formula: i.editorText(i.controls.formula), settings };
    }
    // A shared link's program: it becomes program `index`, selected, with its settings.
    share({ index, name, formula, settings }) {
        const i = this.instrument;
        i.program = index;
        i.idle();  // loads the box with the program, so that the typing below lands in it
        if (name !== null) i.programName = name;
        i.type(formula);
        for (const [key, value] of Object.entries(settings)) i.setSetting(key, value);
    }
    // What the instance that plays needs to sound as this one: the program, its formula
    // as the box holds it, and the settings.
    sound() {
        const i = this.instrument;
        const settings = {};
        for (const key of Object.keys(i.settings)) settings[key] = i.setting(key);
        return { program: i.program, formula: i.editorText(i.controls.formula), settings };
    }
}
