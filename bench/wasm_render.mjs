// The page's engine, WebAssembly in Node, against the native engine on the same work:
// 512-frame blocks of eight voices of a mix of presets, as the render benchmark plays
// them. Rounds alternate between the two, and each side keeps its fastest round. Then
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

// ns per voice-sample of the WebAssembly engine, the voices started through MIDI.
function wasmRender(lerp) {
    const instrument = new Instrument(module, 44100);
    instrument.setSetting('lerp', lerp);
    kPresetsPlayed.forEach((preset, v) => {
        instrument.midi(0xc0, preset);
        instrument.midi(0x90, 48 + 3 * v, 100);
    });
    for (let i = 0; i < 200; ++i) instrument.render(kBlock);
    let blocks = 0;
    const start = performance.now();
    let elapsed = 0;
    while (elapsed < 300) {
        for (let i = 0; i < 50; ++i) instrument.render(kBlock);
        blocks += 50;
        elapsed = performance.now() - start;
    }
    instrument.close();
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

const best = {};
const keep = (name, ns) => (best[name] = Math.min(best[name] ?? Infinity, ns));
for (let round = 0; round < kRounds; ++round) {
    for (const lerp of [0, 1]) keep(`wasm/lerp:${lerp}`, wasmRender(lerp));
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

console.log(`\nThe page's engine: WebAssembly in Node ${process.versions.node} (fast form) against the native`);
console.log(`engine, 512-frame blocks, 8 voices (ns per voice-sample, fastest of ${kRounds} alternating rounds)`);
for (const lerp of [0, 1]) {
    const wasm = best[`wasm/lerp:${lerp}`];
    const fast = best[`BM_RenderFastForm/lerp:${lerp}`];
    const machine = best[`BM_Render/lerp:${lerp}`];
    console.log(`lerp ${lerp}: WebAssembly ${wasm.toFixed(2)}, native fast form ${fast.toFixed(2)} ` +
                `(WebAssembly ${(wasm / fast).toFixed(2)} x), native machine code ${machine.toFixed(2)} ` +
                `(WebAssembly ${(wasm / machine).toFixed(2)} x)`);
}
console.log(`\nA keystroke in a 1,023-character formula, on the audio thread (ms, median of 200):`);
console.log(`before ${before.toFixed(3)} (the keystroke, the editor's idle: compiling, scope, repaint), ` +
            `now ${now.toFixed(3)} (compiling only; the editor runs on the page's thread)`);
