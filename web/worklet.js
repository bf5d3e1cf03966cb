// The page's audio thread: the one instance of the instrument lives here. Each block of
// the audio context goes to the instrument's block render in WebAssembly; the page's
// requests (the editor's input and idle calls, programs, state files, MIDI) arrive as
// messages between blocks, so that the instance is used by one thread only.
import { Instrument } from './instrument.js';

// Recording: the page lends buffers, each the left channel's frames followed by the
// right channel's; the worklet copies each block in and sends every full buffer back.
// With no buffer to fill, the frames are counted as lost.
class Recorder {
    constructor() {
        this.on = false;
        this.spare = [];
        this.current = null;
        this.at = 0;
        this.lost = 0;
    }
    start(buffers) {
        Object.assign(this, { on: true, spare: buffers, current: null, at: 0, lost: 0 });
    }
    // Writes a block, handing `send` each buffer that fills.
    write(left, right, send) {
        if (!this.on) return;
        const half = this.current ? this.current.length / 2 : 0;
        if (this.current && this.at + left.length > half) {
            send(this.current, this.at);
            this.current = null;
        }
        if (!this.current) {
            this.current = this.spare.pop() ?? null;
            this.at = 0;
        }
        if (!this.current) {
            this.lost += left.length;
            return;
        }
        this.current.set(left, this.at);
        this.current.set(right, this.current.length / 2 + this.at);
        this.at += left.length;
    }
    stop() {
        const last = this.current ? { samples: this.current, frames: this.at } : null;
        Object.assign(this, { on: false, current: null, spare: [] });
        return last;
    }
}

class BytoneProcessor extends AudioWorkletProcessor {
    constructor(options) {
        super();
        this.instrument = new Instrument(options.processorOptions.module, sampleRate);
        this.instrument.openEditor();
        this.recorder = new Recorder();
        this.sendRecorded = (samples, frames) => this.port.postMessage({ recorded: samples, frames }, [samples.buffer]);
        this.typed = 0;  // the number of the last formula text the page typed
        this.peak = 0;
        this.port.onmessage = (event) => this.answer(event.data);
    }

    process(_inputs, outputs) {
        const out = outputs[0];
        const [left, right] = this.instrument.render(out[0].length);
        out[0].set(left);
        if (out[1]) out[1].set(right);
        this.recorder.write(left, right, this.sendRecorded);
        let peak = this.peak;
        for (let i = 0; i < left.length; ++i) peak = Math.max(peak, Math.abs(left[i]), Math.abs(right[i]));
        this.peak = peak;
        return true;
    }

    // The output's peak since the last question, as a sample's size (1 is full scale).
    level() {
        const peak = this.peak;
        this.peak = 0;
        return peak;
    }

    // Each request is {id, what, ...}; the answer is {id, result} or {id, error}. A
    // request without an id wants no answer.
    answer(request) {
        try {
            const result = this[request.what](request);
            if (request.id === undefined) return;
            this.port.postMessage({ id: request.id, result }, result?.image ? [result.image.buffer] : []);
        } catch (error) {
            this.port.postMessage({ id: request.id, error: String(error.message ?? error) });
        }
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
            typed: this.typed,
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
    // The settings a shared link carries, by key, with the values a link may give each.
    settings() {
        const ranges = {};
        for (const [key, { lowest, highest, defaultValue }] of Object.entries(this.instrument.settings))
            ranges[key] = [Math.min(lowest, defaultValue), highest];
        return ranges;
    }
    names() {
        return this.instrument.programNames();
    }
    midi({ bytes }) {
        return this.instrument.midi(bytes[0], bytes[1] ?? 0, bytes[2] ?? 0);
    }
    type({ text, number }) {
        this.typed = number;
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
    record({ buffers }) {
        this.recorder.start(buffers);
    }
    lend({ buffer }) {
        if (this.recorder.on) this.recorder.spare.push(buffer);
    }
    stopRecording() {
        const lost = this.recorder.lost;
        return { last: this.recorder.stop(), lost };
    }
}

registerProcessor('bytone', BytoneProcessor);
