// The page's engine in Node: formulas compiled to WebAssembly play what their fast form
// plays, operator by operator, the language's special cases included. Each formula is
// played eight times, a byte of its value at a time, so that every bit is heard.
//
//   node --test tests/web/formula_code_test.mjs   (BYTONE_SITE names the built site)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { Instrument } from '../../web/instrument.js';

const site = path.resolve(process.env.BYTONE_SITE ?? 'build/web');
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
