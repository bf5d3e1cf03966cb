// One Bytone instance in the WebAssembly module, driven as a host drives the plug-in:
// through its entry point, dispatcher and block render. Used by the page's audio
// worklet, and by Node for the tests and the benchmark.

import { FormulaCode } from './formula_code.js';

// The dispatcher's opcodes, by their VST 2.4 names.
export const op = {
    effClose: 1,
    effSetProgram: 2,
    effGetProgram: 3,
    effSetProgramName: 4,
    effGetProgramName: 5,
    effEditOpen: 14,
    effEditClose: 15,
    effEditIdle: 19,
    effGetProgramNameIndexed: 29,
};

export const pointer = { leftDown: 0, move: 1, leftUp: 2, rightDown: 3, wheel: 4 };
export const stateFormat = { fxp: 0, fxb: 1, raw: 2 };
export const editorWidth = 600;

// Texts cross as bytes, one a character; one the instrument's 8-bit texts cannot hold
// becomes '?', as Windows turns text into its 8-bit code page.
const latin1 = (text) =>
    Uint8Array.from(text, (c) => {
        const code = c.codePointAt(0);
        return code > 0xff ? 0x3f : code;
    });

// The module's few imports: nothing it calls does I/O on the page. Its formulas' code
// is compiled by `formulaCode`, or without it not at all (they play from their fast form).
function imports(formulaCode) {
    const none = () => 0;
    const code = formulaCode?.imports() ?? { bytoneEnterCode: none, bytoneLeaveCode: none };
    return {
        env: { emscripten_notify_memory_growth: none, ...code },
        wasi_snapshot_preview1: new Proxy({}, { get: () => none }),
    };
}

export class Instrument {
    // `module` is the compiled WebAssembly.Module of bytone.wasm.
    // Its formulas are compiled to WebAssembly unless `compiledFormulas` is false.
    constructor(module, sampleRate, { compiledFormulas = true } = {}) {
        this.formulaCode = compiledFormulas ? new FormulaCode(() => this.exports) : null;
        this.exports = new WebAssembly.Instance(module, imports(this.formulaCode)).exports;
        this.exports._initialize();
        this.effect = this.exports.bytoneOpen(sampleRate);
        if (!this.effect) throw new Error('the instrument could not be made');
        this.maxFrames = this.exports.bytoneMaxFrames();
        this.scratchBytes = this.exports.bytoneScratchBytes();
        // The editor's controls by name, and the settings by key with their ranges, as
        // the module's tables describe them.
        this.controls = {};
        for (let c = 0; c < this.exports.bytoneControlCount(); ++c) this.controls[this.text(this.exports.bytoneControlName(c))] = c;
        this.settings = {};
        for (let number = 0; number < this.exports.bytoneSettingCount(); ++number) {
            const key = this.text(this.exports.bytoneSettingKey(number));
            const [lowest, highest, defaultValue, step] = new Int32Array(this.exports.memory.buffer, this.exports.bytoneSettingRange(number), 4);
            this.settings[key] = { number, lowest, highest, defaultValue, step };
        }
    }

    dispatch(opcode, index = 0, value = 0, ptr = 0, opt = 0) {
        return this.exports.bytoneDispatch(this.effect, opcode, index, value, ptr, opt);
    }

    bytes(pointer, length) {
        return new Uint8Array(this.exports.memory.buffer, pointer, length);
    }

    // Text handed over in the scratch buffer, cut to fit.
    putText(text) {
        const scratch = this.exports.bytoneScratch();
        const bytes = latin1(text.slice(0, this.scratchBytes - 1));
        const place = this.bytes(scratch, bytes.length + 1);
        place.set(bytes);
        place[bytes.length] = 0;
        return scratch;
    }

    text(pointer) {
        if (!pointer) return null;
        const memory = new Uint8Array(this.exports.memory.buffer);
        let end = pointer;
        while (memory[end]) ++end;
        let text = '';
        for (let at = pointer; at < end; at += 4096)
            text += String.fromCharCode(...memory.subarray(at, Math.min(end, at + 4096)));
        return text;
    }

    textFrom(opcode, index = 0) {
        const scratch = this.exports.bytoneScratch();
        this.bytes(scratch, 256).fill(0);
        this.dispatch(opcode, index, 0, scratch);
        return this.text(scratch);
    }

    programNames() {
        return Array.from({ length: 128 }, (_, i) => this.textFrom(op.effGetProgramNameIndexed, i));
    }
    programFormula(index) {
        return this.text(this.exports.bytoneProgramFormula(this.effect, index));
    }
    setProgramNameAt(index, name) {
        this.putText(name);
        this.exports.bytoneSetProgramNameAt(this.effect, index);
    }

    // The built-in programs: each one's name and its line on what it sounds like.
    presets() {
        return Array.from({ length: this.exports.bytonePresetCount() }, (_, i) => ({
            name: this.text(this.exports.bytonePreset(i, 0)),
            description: this.text(this.exports.bytonePreset(i, 1)),
        }));
    }
    // How many functions of formulas compiled to WebAssembly it holds: the newest of each
    // program, and older ones until the instrument gives them back.
    get compiledFormulas() {
        return this.formulaCode?.entered ?? 0;
    }
    get program() {
        return this.dispatch(op.effGetProgram);
    }
    set program(index) {
        this.dispatch(op.effSetProgram, 0, index);
    }
    get programName() {
        return this.textFrom(op.effGetProgramName);
    }
    set programName(name) {
        this.dispatch(op.effSetProgramName, 0, 0, this.putText(name));
    }

    // A MIDI message for the next block; false when that block's queue is full.
    midi(status, data1 = 0, data2 = 0) {
        return this.exports.bytoneQueueMidi(status, data1, data2);
    }

    // The song's transport at the next block's start: playing or stopped at a position in
    // quarter notes, at a tempo in quarter notes a minute, in a time signature.
    transport({ playing, quarterNotes = 0, tempo = 120, numerator = 4, denominator = 4 }) {
        return this.exports.bytoneQueueTransport(this.effect, playing, quarterNotes, tempo, numerator, denominator);
    }

    // Renders `frames` samples; the two channels are views into the module's memory,
    // valid until the next call.
    // The views are made again only when the memory grew or the block size changed, so
    // that a render allocates nothing.
    render(frames) {
        const left = this.exports.bytoneRender(this.effect, frames);
        const buffer = this.exports.memory.buffer;
        if (this.outputs?.[0].buffer !== buffer || this.outputs[0].length !== frames)
            this.outputs = [new Float32Array(buffer, left, frames), new Float32Array(buffer, left + 4 * this.maxFrames, frames)];
        return this.outputs;
    }

    // The editor: opened as a host opens it, refreshed by its idle call.
    openEditor() {
        return this.dispatch(op.effEditOpen, 0, 0, 1) !== 0;
    }
    idle() {
        this.dispatch(op.effEditIdle);
    }
    // Where each control lies in the window, as [left, top, right, bottom].
    layout() {
        const rects = {};
        for (const [name, which] of Object.entries(this.controls))
            rects[name] = Array.from(new Int32Array(this.exports.memory.buffer, this.exports.bytoneControlRect(which), 4));
        return rects;
    }
    get editorChanged() {
        return this.exports.bytoneEditorChanged(this.effect) !== 0;
    }
    // The frames by which the sound lags its notes (the oversampling's filters).
    get latency() {
        return this.exports.bytoneLatency(this.effect);
    }
    // The editor's colours by name, as CSS colours.
    colors() {
        const hex = (which) => `#${this.exports.bytoneEditorColor(which).toString(16).padStart(6, '0')}`;
        return { face: hex(0), text: hex(1), window: hex(2), bar: hex(3) };
    }
    // The window's height; it is editorWidth wide.
    get editorHeight() {
        return this.exports.bytoneEditorHeight(this.effect);
    }
    // The window as RGBA bytes, editorWidth x editorHeight.
    paintEditor() {
        const count = editorWidth * this.editorHeight;
        const pixels = new Uint32Array(this.exports.memory.buffer, this.exports.bytoneEditorPaint(this.effect), count);
        const rgba = new Uint8ClampedArray(count * 4);
        for (let i = 0; i < count; ++i) {
            const p = pixels[i];
            rgba[4 * i] = p >>> 16;
            rgba[4 * i + 1] = (p >>> 8) & 0xff;
            rgba[4 * i + 2] = p & 0xff;
            rgba[4 * i + 3] = 255;
        }
        return rgba;
    }
    editorText(which) {
        return this.text(this.exports.bytoneEditorText(this.effect, which));
    }
    // Program `index`'s formula, compiled at once, without the editor.
    setFormula(index, formula) {
        this.putText(formula);
        this.exports.bytoneSetFormula(this.effect, index);
    }
    type(formula) {
        this.putText(formula);
        this.exports.bytoneEditorType(this.effect);
    }
    // Where the compiler stops reading `formula`: the index in it of the character it
    // cannot take, its length where it ends too soon, or -1 where it compiles.
    formulaStop(formula) {
        this.putText(formula);
        const stop = this.exports.bytoneFormulaStop(this.effect);
        // The module counts a character a byte; the page counts UTF-16 units.
        return stop < 0 ? stop : Array.from(formula).slice(0, stop).join('').length;
    }
    pointer(input, x, y, wheelDelta = 0) {
        this.exports.bytoneEditorPointer(this.effect, input, x, y, wheelDelta);
    }
    get clipboard() {
        return this.text(this.exports.bytoneClipboard(this.effect));
    }
    set clipboard(text) {
        this.putText(text);
        this.exports.bytoneSetClipboard(this.effect);
    }
    // The value of the setting of `key` (see `settings`).
    setting(key) {
        return this.exports.bytoneSetting(this.effect, this.settings[key].number);
    }
    setSetting(key, value) {
        this.exports.bytoneSetSetting(this.effect, this.settings[key].number, value);
    }

    // Restores a state file's bytes; null, or why it was refused.
    loadState(bytes) {
        if (bytes.length > this.scratchBytes) return `${bytes.length} bytes is larger than any state file`;
        this.bytes(this.exports.bytoneScratch(), bytes.length).set(bytes);
        return this.text(this.exports.bytoneLoadState(this.effect, bytes.length));
    }
    // Whether `loadState` would take the bytes: null, or why not.
    checkState(bytes) {
        if (bytes.length > this.scratchBytes) return `${bytes.length} bytes is larger than any state file`;
        this.bytes(this.exports.bytoneScratch(), bytes.length).set(bytes);
        return this.text(this.exports.bytoneCheckState(this.effect, bytes.length)) || null;
    }
    // The state as a file of one of `stateFormat`: a copy of its bytes.
    saveState(format) {
        const sizeAt = this.exports.bytoneScratch();
        const data = this.exports.bytoneSaveState(this.effect, format, sizeAt);
        const size = new Int32Array(this.exports.memory.buffer, sizeAt, 1)[0];
        return this.bytes(data, size).slice();
    }

    close() {
        this.dispatch(op.effClose);
        this.effect = 0;
    }
}
