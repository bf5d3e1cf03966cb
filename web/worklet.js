// The page's audio thread: the instance that plays lives here. Each block of the audio
// context goes to the instrument's block render in WebAssembly. The editor, with its
// drawing, scope and compiler messages, runs in another instance on the page's thread;
// what it changes arrives here as messages between blocks (a formula, a setting, the
// program, a whole bank), with MIDI, so that nothing the editor draws runs here. A second
// instance, as new, plays the preset browser's presets whatever the bank holds.
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
        // Made before the first block, so that no block waits for it.
        this.presets = new Instrument(options.processorOptions.module, sampleRate);
        this.auditionLeft = 0;  // frames the preset's instance still renders
        this.recorder = new Recorder();
        this.sendRecorded = (samples, frames) => this.port.postMessage({ recorded: samples, frames }, [samples.buffer]);
        this.peak = 0;
        this.port.onmessage = (event) => this.answer(event.data);
    }

    process(_inputs, outputs) {
        const out = outputs[0];
        const [left, right] = this.instrument.render(out[0].length);
        if (this.auditionLeft > 0) {
            // The sum, both instances' sound within their limits.
            const [presetLeft, presetRight] = this.presets.render(left.length);
            for (let i = 0; i < left.length; ++i) left[i] += presetLeft[i], right[i] += presetRight[i];
            this.auditionLeft -= left.length;
        }
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
            this.port.postMessage({ id: request.id, result });
        } catch (error) {
            this.port.postMessage({ id: request.id, error: String(error.message ?? error) });
        }
    }

    // The page's editor runs an instance of its own; this one plays, and takes what the
    // editor changed: MIDI, a program's formula, a setting, the program, a whole bank.
    midi({ bytes }) {
        return this.instrument.midi(bytes[0], bytes[1] ?? 0, bytes[2] ?? 0);
    }
    setFormula({ program, text }) {
        this.instrument.setFormula(program, text);
    }
    transport(song) {
        return this.instrument.transport(song);
    }
    setSetting({ key, value }) {
        this.instrument.setSetting(key, value);
    }
    selectProgram({ index }) {
        this.instrument.program = index;
    }
    // Preset `index` from the preset browser, at `velocity`, starts its A3 (key 57) or, with
    // `on` false, lets it go; its instance renders on for a second after.
    audition({ index, velocity, on }) {
        const presets = this.presets;
        if (!on) {
            presets.midi(0x80, 57, 0);
            this.auditionLeft = Math.min(this.auditionLeft, sampleRate);
            return;
        }
        presets.midi(0xb0, 120, 0);
        presets.program = index;
        presets.midi(0x90, 57, velocity);
        this.auditionLeft = Infinity;
    }
    load({ bytes }) {
        return this.instrument.loadState(bytes);
    }
    record({ buffers }) {
        this.recorder.start(buffers);
    }
    lend({ buffer }) {
        if (this.recorder.on) this.recorder.spare.push(buffer);
    }
    compiledFormulas() {
        return this.instrument.compiledFormulas;
    }
    stopRecording() {
        const lost = this.recorder.lost;
        return { last: this.recorder.stop(), lost };
    }
}

registerProcessor('bytone', BytoneProcessor);
