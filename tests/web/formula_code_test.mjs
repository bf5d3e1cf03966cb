// The page's engine in Node: formulas compiled to WebAssembly play what their fast form
// plays, operator by operator, the language's special cases included. Each formula is
// played eight times, a byte of its value at a time, so that every bit is heard; then
// 2,000 random formulas over the whole grammar each play one byte of their value.
//
// Last, the envelope, the DC filter and the oversampling's filters play what the tool
// plays through the Linux plug-in.
//
//   node --test tests/web/formula_code_test.mjs   (BYTONE_SITE and BYTONE_TOOL name the
//                                                 built site and the tool)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import wavefile from 'wavefile';

import { Instrument } from '../../web/instrument.js';
import { writeNoteFile } from './note_file.mjs';

const site = path.resolve(process.env.BYTONE_SITE ?? 'build/web');
const tool = path.resolve(process.env.BYTONE_TOOL ?? 'build/linux/tools/bytone');
const module = new WebAssembly.Module(fs.readFileSync(path.join(site, 'bytone.wasm')));

const formulas = [
    'P/(T%5-2)+P%(T%5-2)', // divisors 0 and -1 among others
    '(1<<63)/(T%3-1)+(1<<63)%(T%2-1)', // the most negative value by -1
    'P<<T^P>>(T+60)^-P>>3', // shift counts past 63
    '(P<T)+(P>T%9)*2+(P<=T)*4+(P>=R)*8+(P==T)*16+(P!=R)*32',
    '(P&&T%3)+(P%2||0)*2+!P*4+!(T%2)*8',
    '~P*V-M+R*T',
    'P%3?T:R*-P',
    'P/7+P%7-P/1024+P%1024*3+(-P)/1000-(-P)%1000',
    '-P*(T>>2)/3+(P^T)%5',
    'P*T*R*V+(P|T)-(P&R)',
    'P/-7+P%-7+P/-4096-P%-4096',
    '(P*1234567890123)/(R+1)%(T|1)',
    'T/(P&1023)+T%(P&255)+(P>>63?1:-1)',
    'V/(M+0)+M%(V-100)',
    'S+C*R-(T*P>>5)&(T>>7|T>>5)',
];
// Played whole: Lerp's sum past both ends of the range.
const whole = ['P&1?~(1<<63):1<<63', '(P&3)-2<<62'];

// Each sliced formula with Lerp off and on, and with Clamp on where it changes nothing;
// the whole ones with Lerp on.
function play(compiledFormulas) {
    const instrument = new Instrument(module, 44100, { compiledFormulas });
    const plays = [];
    formulas.forEach((formula, f) => {
        for (let b = 0; b < 8; ++b) {
            const program = f * 8 + b;
            instrument.setFormula(program, `(${formula})>>${8 * b}&255`);
            plays.push({ program, lerp: b % 2, clamp: f % 3 === 0 ? 1 : 0 });
        }
    });
    whole.forEach((formula, w) => {
        const program = formulas.length * 8 + w;
        instrument.setFormula(program, formula);
        plays.push({ program, lerp: 1, clamp: 0 });
    });
    const samples = [];
    for (const { program, lerp, clamp } of plays) {
        instrument.setSetting('lerp', lerp);
        instrument.setSetting('clamp', clamp);
        instrument.program = program;
        instrument.midi(0xb0, 1, program);  // M
        instrument.midi(0x90, 30 + program % 60, 1 + program);  // V
        for (let block = 0; block < 4; ++block) samples.push(...instrument.render(512)[0]);
        instrument.midi(0xb0, 123, 0);
    }
    const compiled = instrument.compiledFormulas;
    instrument.close();
    return { samples, compiled };
}

test('formulas compiled to WebAssembly play every bit their fast form plays', () => {
    const compiled = play(true), fast = play(false);
    // A formula and a voice loop for each formula played.
    assert.ok(compiled.compiled >= 2 * (formulas.length * 8 + whole.length), 'every program plays from compiled code');
    assert.equal(fast.compiled, 0);
    assert.ok(fast.samples.some((v) => v !== 0));
    assert.deepEqual(compiled.samples, fast.samples);
});

// Random formulas over the whole grammar, from a seed: variables, literals of every form,
// unary and binary operators, conditionals and parentheses, nested up to `depth`.
function* randomFormulas(count, seed) {
    let state = seed;
    const next = () => {
        state = (state + 0x6d2b79f5) >>> 0;
        let t = Math.imul(state ^ (state >>> 15), state | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return (t ^ (t >>> 14)) >>> 0;
    };
    const pick = (n) => next() % n;
    const choose = (items) => items[pick(items.length)];
    const binary = ['+', '-', '*', '/', '%', '<<', '>>', '<', '>', '<=', '>=', '==', '!=', '&', '^', '|', '&&', '||'];
    const atom = () =>
        (pick(5) === 0 ? choose('-!~') : '') +
        [
            () => choose('PTVMRSCAZptv'),
            () => choose('PTVMRSCAZptv'),
            () => `${pick(8)}`, // small values meet the variables' early ones, and 0 that of A and Z
            () => `0x${next().toString(16)}`,
            () => `${pick(300)}`,
            () => `${next() * 3}`,
        ][pick(6)]();
    const expression = (depth) => {
        const kind = pick(depth <= 0 ? 2 : 8);
        if (kind < 2) return atom();
        if (kind === 2) return `${choose('-!~')}(${expression(depth - 1)})`;
        if (kind === 3) return `(${expression(depth - 1)}?${expression(depth - 1)}:${expression(depth - 1)})`;
        if (kind === 4) return `(${expression(depth - 1)})`;
        return `${expression(depth - 1)}${choose(binary)}${expression(depth - 1)}`;
    };
    for (let f = 0; f < count; ++f) yield expression(1 + (f % 6));
}

test('2,000 random formulas compiled to WebAssembly play what their fast form plays', () => {
    const formulas = [...randomFormulas(2000, 2024)];
    const play = (compiledFormulas) => {
        const instrument = new Instrument(module, 44100, { compiledFormulas });
        const samples = [];
        formulas.forEach((formula, f) => {
            const program = f % 128;
            instrument.setFormula(program, `(${formula})>>${8 * (f % 8)}&255`);
            instrument.setSetting('lerp', (f >> 3) & 1);
            instrument.program = program;
            instrument.midi(0xb0, 1, f % 128);
            instrument.midi(0x90, 30 + (f % 60), 1 + (f % 127));
            samples.push(...instrument.render(128)[0]);
            instrument.midi(0xb0, 123, 0);
        });
        const compiled = instrument.compiledFormulas;
        instrument.close();
        return { samples, compiled };
    };
    const compiled = play(true), fast = play(false);
    // Formulas of constants alone have no code; the rest of the bank's last 128 have two
    // functions each, shared where the code is the same.
    assert.ok(compiled.compiled > 128, 'the bank\'s last formulas play from compiled code');
    assert.ok(fast.samples.filter((v) => v !== 0).length > fast.samples.length / 4);
    const first = compiled.samples.findIndex((v, i) => v !== fast.samples[i]);
    assert.equal(first, -1, first < 0 ? '' : `formula ${Math.floor(first / 128)}: ${formulas[Math.floor(first / 128)]}`);
});

// The words and stereo in the page's module, under its transport: a song at 150 BPM in
// 7/8 from its start, the tempo 100 from the fifth quarter note (frame 76,800), and a note
// of key 60 held with the channel's pressure and controller 74 set before it; the values
// computed here from the transport, as the tool's test computes them, on the machine code
// and on the fast form.
test('words and stereo play the transport and the note in the page as in the tool', () => {
    const perMinute = 60 * 48000;
    const beat = (n) => (n < 76800 ? Math.floor((n * 150 * 32768) / perMinute) : 4 * 32768 + Math.floor(((n - 76800) * 100 * 32768) / perMinute));
    const cases = [
        ['beat&255', (n) => beat(n) & 255],
        ['beat>>8&255', (n) => (beat(n) >> 8) & 255],
        ['bar>>13', (n) => (Math.floor(beat(n) / 114688) * 114688) >> 13],
        ['note+gate,pressure', () => 61, () => 77],
        ['timbre,(beat-start)>>8&255', () => 20, (n) => (beat(n) >> 8) & 255],
    ];
    for (const compiledFormulas of [true, false]) {
        for (const [formula, left, right = left] of cases) {
            const instrument = new Instrument(module, 48000, { compiledFormulas });
            instrument.setFormula(0, formula);
            instrument.program = 0;
            instrument.transport({ playing: true, quarterNotes: 0, tempo: 150, numerator: 7, denominator: 8 });
            for (const bytes of [[0xd0, 77], [0xb0, 74, 20], [0x90, 60, 100]]) instrument.midi(...bytes);
            let wrong = -1;
            for (let at = 0; at < 192000 && wrong < 0; at += 256) {
                if (at === 76800)
                    instrument.transport({ playing: true, quarterNotes: 4, tempo: 100, numerator: 7, denominator: 8 });
                const [l, r] = instrument.render(256);
                for (let i = 0; i < 256 && wrong < 0; ++i)
                    if (l[i] !== Math.fround(left(at + i) / 1024) || r[i] !== Math.fround(right(at + i) / 1024)) wrong = at + i;
            }
            instrument.close();
            assert.equal(wrong, -1, `${formula} (${compiledFormulas ? 'machine code' : 'fast form'})`);
        }
    }
});

// A note of half a second at 48 kHz, 8x, with an attack, a release and the DC filter:
// the filters are designed where the module loads, and must come out as the plug-in's.
// The tool makes up for the filters' latency; the page's engine plays it.
test('the ramps, the DC filter and 8x oversampling play in the page as in the tool', () => {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'bytone-formula-code-'));
    const note = writeNoteFile(path.join(work, 'note.mid'), 48);
    const settings = { oversample: ['8', 3], attack: ['20', 20], release: ['100', 100], dc: ['on', 1] };
    const rendered = path.join(work, 'native.wav');
    execFileSync(tool, ['render', note, '-o', rendered, '--formula', 'P*3&255', '--rate', '48000', '--block', '96',
                        '--format', 'float', '--tail', '0.2',
                        ...Object.entries(settings).flatMap(([key, [option]]) => [`--${key}`, option])]);
    const expected = new wavefile.WaveFile(fs.readFileSync(rendered)).getSamples(false, Float64Array);
    fs.rmSync(work, { recursive: true });

    const instrument = new Instrument(module, 48000);
    for (const [key, [, value]] of Object.entries(settings)) instrument.setSetting(key, value);
    instrument.setFormula(0, 'P*3&255');
    instrument.program = 0;
    const frames = expected[0].length;
    assert.equal(frames, 48000 * 0.7);
    const lag = instrument.latency;
    assert.equal(lag, 31);
    let wrong = -1;
    for (let at = 0; at < frames + lag && wrong < 0; at += 96) {
        if (at === 0) instrument.midi(0x90, 48, 100);
        if (at === 24000) instrument.midi(0x80, 48, 0);
        const [l, r] = instrument.render(96);
        for (let i = Math.max(0, lag - at); i < 96 && at + i - lag < frames && wrong < 0; ++i)
            if (l[i] !== expected[0][at + i - lag] || r[i] !== expected[1][at + i - lag]) wrong = at + i - lag;
    }
    instrument.close();
    assert.equal(wrong, -1, 'the first frame that differs');
    assert.ok(expected[0].some((v) => Math.abs(v) > 0.05), 'the note sounds');
});
