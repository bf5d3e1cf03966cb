// The page's engine, WebAssembly in Node (its formulas compiled to WebAssembly, and from
// their fast form), against the native engine on the same work:
// 512-frame blocks of eight voices of a mix of presets, as the render benchmark plays
// them, and against the way a browser player plays formulas: each formula's text made a
// JavaScript function, called per sample. Rounds alternate between them, and each side
// keeps its fastest round. Then
// what one keystroke in a 1,023-character formula costs the audio thread: before, when
// the worklet's one instance took the keystroke and the editor's idle call (compiling,
// the scope, the repaint); now, when the worklet's instance only compiles the new formula.
//
//   node bench/wasm_render.mjs SITE BENCH   (the built page and bytone_bench)
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { Instrument } from '../web/instrument.js';

const [site, bench] = process.argv.slice(2);
if (!site || !bench) {
    console.error('usage: node bench/wasm_render.mjs SITE BENCH');
    process.exit(2);
}

const kBlock = 512;
const kVoices = 8;
const kPresetsPlayed = [0, 4, 11, 15, 21, 23, 28, 35];
const kRounds = 5;
const module = new WebAssembly.Module(fs.readFileSync(path.join(site, 'bytone.wasm')));

// ns per voice-sample of an instrument's blocks, after 200 to warm up; then it is closed.
function timedBlocks(instrument, beforeBlock = () => {}) {
    const block = () => {
        beforeBlock(instrument);
        instrument.render(kBlock);
    };
    for (let i = 0; i < 200; ++i) block();
    let blocks = 0;
    const start = performance.now();
    let elapsed = 0;
    while (elapsed < 300) {
        for (let i = 0; i < 50; ++i) block();
        blocks += 50;
        elapsed = performance.now() - start;
    }
    instrument.close();
    return (elapsed * 1e6) / (blocks * kBlock * kVoices);
}

// ns per voice-sample of the WebAssembly engine, the voices started through MIDI: its
// formulas compiled to WebAssembly, or played from their fast form.
function wasmRender(lerp, compiledFormulas) {
    const instrument = new Instrument(module, 44100, { compiledFormulas });
    instrument.setSetting('lerp', lerp);
    kPresetsPlayed.forEach((preset, v) => {
        instrument.midi(0xc0, preset);
        instrument.midi(0x90, 48 + 3 * v, 100);
    });
    return timedBlocks(instrument);
}

// The eight formulas' texts, as the editor shows them.
function presetFormulas() {
    const instrument = new Instrument(module, 44100);
    instrument.openEditor();
    const formulas = kPresetsPlayed.map((preset) => {
        instrument.program = preset;
        instrument.idle();
        return instrument.editorText(instrument.controls.formula);
    });
    instrument.close();
    return formulas;
}
const formulas = presetFormulas();

// ns per voice-sample of a browser player's way: the formula text as a JavaScript
// function of the variables (JavaScript's numbers and precedence, not the language's),
// called per sample; the voices' counters, Lerp, the 8-bit mask, gain and mix as the
// instrument has them.
function javascriptRender(lerp) {
    const functions = formulas.map((text) => new Function('P', 'T', 'V', 'M', 'R', `return (${text});`));
    const voices = kPresetsPlayed.map((_, v) => ({
        step: 2 ** ((48 + 3 * v - 69) / 12) * 440 * 256 / 44100,
        phase: 0, phaseFrac: 0, time: 0, timeFrac: 0,
    }));
    const timeStep = 65536 / 44100;
    const values = voices.map(() => new Float64Array(kBlock));
    const out = new Float32Array(kBlock);
    const block = () => {
        voices.forEach((voice, v) => {
            const f = functions[v], into = values[v];
            for (let i = 0; i < kBlock; ++i) {
                voice.phaseFrac += voice.step;
                const whole = Math.floor(voice.phaseFrac);
                voice.phase += whole;
                voice.phaseFrac -= whole;
                voice.timeFrac += timeStep;
                const ticks = Math.floor(voice.timeFrac);
                voice.time += ticks;
                voice.timeFrac -= ticks;
                const r = (Math.random() * 32768) | 0;
                let d = f(voice.phase, voice.time, 100, 0, r);
                if (lerp) d = Math.trunc(d + (f(voice.phase + 1, voice.time, 100, 0, r) - d) * voice.phaseFrac);
                into[i] = d & 255;
            }
        });
        for (let i = 0; i < kBlock; ++i) {
            let mix = 0;
            for (let v = 0; v < kVoices; ++v) mix += values[v][i] * 0.00390625;
            out[i] = Math.min(1, Math.max(-1, mix * 0.25));
        }
    };
    for (let i = 0; i < 200; ++i) block();
    let blocks = 0;
    const start = performance.now();
    let elapsed = 0;
    while (elapsed < 300) {
        for (let i = 0; i < 50; ++i) block();
        blocks += 50;
        elapsed = performance.now() - start;
    }
    return (elapsed * 1e6) / (blocks * kBlock * kVoices);
}

// ns per voice-sample of the native engine: its fast form and its machine code.
function nativeRender() {
    const out = path.join(os.tmpdir(), `bytone-render-${process.pid}.json`);
    const run = spawnSync(bench, ['--benchmark_filter=^BM_Render(FastForm)?/', '--benchmark_min_time=0.2',
                                  `--benchmark_out=${out}`, '--benchmark_out_format=json'], { stdio: 'ignore' });
    if (run.status !== 0) throw new Error(`${bench} failed`);
    const results = {};
    for (const b of JSON.parse(fs.readFileSync(out, 'utf8')).benchmarks) results[b.name] = b.ns_per_voice_sample * 1e9;
    fs.rmSync(out);
    return results;
}

// ns per voice-sample of eight voices of eight formulas in the page's engine, as
// BM_WordsInTurn plays them natively: words against letters, stereo against its left sides.
const kWordFormulas = [
    'beat>>7&P', 'P*note>>5&255', 'P&255^pressure', '(beat>>10)*(note&7)&P',
    'P*(pressure+1)>>7&255', '(beat^P)&(note+pressure)', 'beat*note>>9&255', '(P>>1)+(beat>>13&63)+pressure&255',
];
const kLetterFormulas = [
    'T>>7&P', 'P*P>>5&255', 'P&255^V', '(T>>10)*(P&7)&P',
    'P*(V+1)>>7&255', '(T^P)&(P+V)', 'T*P>>9&255', '(P>>1)+(T>>13&63)+V&255',
];
const kStereoFormulas = kLetterFormulas.map((f) => `${f},${f.replace('>>', '>>1+')}`);
// `again` strikes the notes again before each block.
function wordsRender(formulasPlayed, lerp, settings = {}, again = false) {
    const instrument = new Instrument(module, 44100);
    instrument.setSetting('lerp', lerp);
    for (const [key, value] of Object.entries(settings)) instrument.setSetting(key, value);
    instrument.midi(0xd0, 64);
    formulasPlayed.forEach((formula, v) => {
        instrument.setFormula(v, formula);
        instrument.program = v;
        instrument.midi(0x90, 48 + 3 * v, 100);
    });
    const strike = (synth) => formulasPlayed.forEach((_, v) => synth.midi(0x90, 48 + 3 * v, 100));
    return timedBlocks(instrument, again ? strike : undefined);
}

const best = {};
const keep = (name, ns) => (best[name] = Math.min(best[name] ?? Infinity, ns));
for (let round = 0; round < kRounds; ++round) {
    for (const lerp of [0, 1]) keep(`wasm/lerp:${lerp}`, wasmRender(lerp, true));
    for (const lerp of [0, 1]) keep(`wasm fast form/lerp:${lerp}`, wasmRender(lerp, false));
    for (const lerp of [0, 1]) keep(`javascript/lerp:${lerp}`, javascriptRender(lerp));
    for (const lerp of [0, 1]) {
        keep(`words/lerp:${lerp}`, wordsRender(kWordFormulas, lerp));
        keep(`letters/lerp:${lerp}`, wordsRender(kLetterFormulas, lerp));
        keep(`stereo/lerp:${lerp}`, wordsRender(kStereoFormulas, lerp));
    }
    for (const exponent of [0, 1, 2, 3]) keep(`oversample:${1 << exponent}x`, wordsRender(kLetterFormulas, 0, { oversample: exponent }));
    keep('dc', wordsRender(kLetterFormulas, 0, { dc: 1 }));
    keep('struck', wordsRender(kLetterFormulas, 0, {}, true));
    keep('ramped', wordsRender(kLetterFormulas, 0, { attack: 2000 }, true));
    for (const [name, ns] of Object.entries(nativeRender())) keep(name, ns);
}

// ms of the audio thread a keystroke costs, the median of alternating keystrokes that add
// and take away the formula's last character.
function keystroke(cost) {
    const instrument = new Instrument(module, 48000);
    instrument.openEditor();
    const long = 'P' + '+1'.repeat(510) + '+';  // 1,022 characters; a keystroke adds the 1,023rd
    const times = [];
    for (let k = 0; k < 200; ++k) {
        const text = k % 2 ? long : `${long}T`;
        const start = performance.now();
        cost(instrument, text);
        times.push(performance.now() - start);
    }
    instrument.close();
    times.sort((a, b) => a - b);
    return times[times.length >> 1];
}
const before = keystroke((instrument, text) => {
    instrument.type(text);
    instrument.idle();
    if (instrument.editorChanged) instrument.paintEditor();
});
const now = keystroke((instrument, text) => instrument.setFormula(0, text));

console.log(`\nThe page's engine: WebAssembly in Node ${process.versions.node}, its formulas compiled to WebAssembly`);
console.log(`and from their fast form, against the native engine and JavaScript functions, 512-frame blocks,`);
console.log(`8 voices (ns per voice-sample, fastest of ${kRounds} alternating rounds)`);
for (const lerp of [0, 1]) {
    const wasm = best[`wasm/lerp:${lerp}`];
    const wasmFast = best[`wasm fast form/lerp:${lerp}`];
    const fast = best[`BM_RenderFastForm/lerp:${lerp}`];
    const machine = best[`BM_Render/lerp:${lerp}`];
    const javascript = best[`javascript/lerp:${lerp}`];
    const ratio = (a, b) => `${(a / b).toFixed(2)} x`;
    console.log(`lerp ${lerp}: WebAssembly ${wasm.toFixed(2)} (JavaScript functions ${javascript.toFixed(2)}: ` +
                `${ratio(wasm, javascript)}); fast form ${wasmFast.toFixed(2)} (${ratio(wasmFast, javascript)}); ` +
                `native fast form ${fast.toFixed(2)}, machine code ${machine.toFixed(2)} ` +
                `(WebAssembly ${ratio(wasm, machine)})`);
}
console.log(`\nWords and stereo in the page's engine, 8 voices (ns per voice-sample, fastest of ${kRounds} rounds)`);
for (const lerp of [0, 1]) {
    const words = best[`words/lerp:${lerp}`], letters = best[`letters/lerp:${lerp}`], stereo = best[`stereo/lerp:${lerp}`];
    console.log(`lerp ${lerp}: beat, note, pressure ${words.toFixed(2)} / T, P, V ${letters.toFixed(2)} = ` +
                `${(words / letters).toFixed(3)} x; stereo / its left sides ${(stereo / letters).toFixed(3)} x`);
}
const plain = best['oversample:1x'];
console.log(`\nOversampling in the page's engine, 8 voices of T, P, V (ns per voice-sample, fastest of ${kRounds} rounds)`);
console.log([1, 2, 4, 8].map((k) => `${k}x ${best[`oversample:${k}x`].toFixed(2)} (${(best[`oversample:${k}x`] / plain).toFixed(2)} x)`).join(', ') +
            `; the DC filter at 1x ${(best.dc / plain).toFixed(3)} x; ` +
            `notes struck each block, ramped by a 2 s attack / not ${(best.ramped / best.struck).toFixed(3)} x`);
console.log(`\nA keystroke in a 1,023-character formula, on the audio thread (ms, median of 200):`);
console.log(`before ${before.toFixed(3)} (the keystroke, the editor's idle: compiling, scope, repaint), ` +
            `now ${now.toFixed(3)} (compiling only; the editor runs on the page's thread)`);
