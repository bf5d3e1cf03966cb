// The page's audio thread: the one instance of the instrument lives here. Each block of
// the audio context goes to the instrument's block render in WebAssembly; the page's
// requests (the editor's input and idle calls, programs, state files, MIDI) arrive as
// messages between blocks, so that the instance is used by one thread only.
import { Instrument, control } from './instrument.js';

// Recording: the page lends buffers of frames x 2 channels (interleaved), the worklet
// fills them and sends each full one back; with none to fill, frames are counted lost.
class Recorder {
    constructor() {
        this.on = false;
        this.spare = [];
        this.current = null;
        this.at = 0;
        this.lost = 0;
    }
    start(buffers) {
        this.on = true;
        this.spare = buffers;
        this.current = null;
        this.at = 0;
        this.lost = 0;
    }
    // Writes a block; returns a full buffer to send, or null.
    write(left, right) {
        if (!this.on) return null;
        if (!this.current) this.current = this.spare.pop() ?? null;
        if (!this.current) {
            this.lost += left.length;
            return null;
        }
        const samples = this.current;
        for (let i = 0; i < left.length; ++i) {
            samples[this.at++] = left[i];
            samples[this.at++] = right[i];
        }
        if (this.at + 2 * left.length <= samples.length) return null;
        this.current = null;
        const full = samples.subarray(0, this.at);
        this.at = 0;
        return full;
    }
    stop() {
        this.on = false;
        const last = this.current ? this.current.subarray(0, this.at) : null;
        this.current = null;
        this.spare = [];
        return last;
    }
}

class BytoneProcessor extends AudioWorkletProcessor {
    constructor(options) {
        super();
        this.instrument = new Instrument(options.processorOptions.module, sampleRate);
        this.instrument.openEditor();
        this.recorder = new Recorder();
        this.typed = 0;  // the number of the last formula text the page typed
        this.port.onmessage = (event) => this.answer(event.data);
    }

    process(_inputs, outputs) {
        const out = outputs[0];
        const [left, right] = this.instrument.render(out[0].length);
        out[0].set(left);
        if (out[1]) out[1].set(right);
        const full = this.recorder.write(left, right);
        if (full) this.port.postMessage({ recorded: full }, [full.buffer]);
        return true;
    }

    // Each request is {id, what, ...}; the answer is {id, result} or {id, error}.
    answer(request) {
        try {
            const result = this[request.what](request);
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
        for (const [name, which] of Object.entries(control)) texts[name] = instrument.editorText(which);
        return {
            image,
            texts,
            typed: this.typed,
            program: instrument.program,
            programName: instrument.programName,
            lerp: instrument.setting(control.lerp),
            clamp: instrument.setting(control.clamp),
        };
    }

    layout() {
        return this.instrument.layout();
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
    load({ bytes }) {
        return this.instrument.loadState(bytes);
    }
    save({ format }) {
        return this.instrument.saveState(format);
    }
    // The current program and the settings, for a shared link.
    program() {
        const i = this.instrument;
        const settings = {};
        for (const name of ['poly', 'porta', 'time', 'gain', 'lerp', 'clamp', 'drum'])
            settings[name] = i.setting(control[name]);
        return { index: i.program, name: i.programName, formula: i.editorText(control.formula), settings };
    }
    // A shared link's program: it becomes program `index`, selected, with its settings.
    share({ index, name, formula, settings }) {
        const i = this.instrument;
        i.program = index;
        i.idle();  // loads the box with the program, so that the typing below lands in it
        i.programName = name;
        i.type(formula);
        for (const [setting, value] of Object.entries(settings)) i.setSetting(control[setting], value);
    }
    record({ buffers }) {
        this.recorder.start(buffers);
    }
    lend({ buffer }) {
        if (this.recorder.on) this.recorder.spare.push(buffer);
    }
    stopRecording() {
        const lost = this.recorder.lost;
        const last = this.recorder.stop();
        return { last: last ? last.slice() : null, lost };
    }
}

registerProcessor('bytone', BytoneProcessor);
