// The page in a real browser: Debian's Chromium, headless, driven by puppeteer-core,
// served from the built site by a plain static server. What it plays, saves and loads
// is checked against the Linux plug-in through the command-line tool.
//
//   node --test tests/web/page_test.mjs   (BYTONE_SITE, BYTONE_TOOL and BYTONE_SCREENSHOT
//                                          name the site, the tool and the picture to write)
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

import puppeteer from 'puppeteer-core';
import wavefile from 'wavefile';

import { writeNoteFile } from './note_file.mjs';

const site = path.resolve(process.env.BYTONE_SITE ?? 'build/web');
const tool = path.resolve(process.env.BYTONE_TOOL ?? 'build/linux/tools/bytone');
const screenshot = process.env.BYTONE_SCREENSHOT;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'bytone-page-'));

// One note of half a second, key 48 at velocity 100.
const note = writeNoteFile(path.join(work, 'note.mid'), 48);

let server;
let browser;
let origin;
const problems = [];  // console errors, page errors and failed requests, of every page

before(async () => {
    server = spawn('python3', ['-m', 'http.server', '0', '--bind', '127.0.0.1', '--directory', site], {
        stdio: ['ignore', 'pipe', 'ignore'],
    });
    origin = await new Promise((resolve, reject) => {
        server.stdout.on('data', (data) => {
            const port = /port (\d+)/.exec(String(data));
            if (port) resolve(`http://127.0.0.1:${port[1]}`);
        });
        server.on('exit', (code) => reject(new Error(`the static server stopped (${code})`)));
    });
    browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        userDataDir: path.join(work, 'profile'),
        args: [
            '--no-sandbox',
            '--disable-gpu',
            '--disable-quic',
            '--no-first-run',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--autoplay-policy=no-user-gesture-required',
        ],
    });
});

after(async () => {
    await browser?.close();
    server?.kill();
    fs.rmSync(work, { recursive: true, force: true });
    assert.deepEqual(problems, [], 'the pages reported no error');
});

// A page of the site; `prepare` runs before the page's own scripts.
async function openPage(fragment = '', prepare = async () => {}, { keepStorage = false } = {}) {
    const page = await browser.newPage();
    await page.setViewport({ width: 800, height: 860 });
    // Each page starts from the presets (unless asked to keep what pages kept): what a
    // page kept in the browser's storage stays for its own reloads only.
    await page.evaluateOnNewDocument((keep) => {
        if (!keep && !sessionStorage.getItem('test page')) localStorage.clear();
        sessionStorage.setItem('test page', 'yes');
        // The worklet's node, for questions to the instance that plays.
        const Node = window.AudioWorkletNode;
        if (Node) window.AudioWorkletNode = class extends Node {
            constructor(...args) {
                super(...args);
                window.playing = this;
            }
        };
    }, keepStorage);
    await prepare(page);
    page.on('console', (m) => m.type() === 'error' && problems.push(`console: ${m.text()}`));
    page.on('pageerror', (e) => problems.push(`page: ${e.message}`));
    page.on('requestfailed', (r) => problems.push(`request: ${r.url()} ${r.failure()?.errorText}`));
    const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.goto(`${origin}/index.html${fragment}`);
    await page.waitForSelector('body[data-ready]', { timeout: 20000 });
    page.downloads = downloads;
    return page;
}

const shown = (page) =>
    page.evaluate(() => {
        const text = (name) => document.querySelector(`#editor [data-control="${name}"]`).textContent;
        return {
            formula: document.getElementById('formula').value,
            status: text('status'),
            poly: text('poly'),
            gain: text('gain'),
            drum: text('drum'),
            program: document.getElementById('program').selectedIndex,
            name: document.getElementById('name').value,
            message: document.getElementById('message').textContent,
            marked: document.querySelector('#formula-mark mark')?.textContent ?? null,
        };
    });

// Waits until what the page shows passes `check`.
async function waitFor(page, check, what) {
    for (let tries = 0; tries < 100; ++tries) {
        const now = await shown(page);
        if (check(now)) return now;
        await new Promise((r) => setTimeout(r, 50));
    }
    assert.fail(`the page never showed ${what}: ${JSON.stringify(await shown(page))}`);
}

async function typeFormula(page, text) {
    await page.$eval('#formula', (box) => {
        box.focus();
        box.select();
    });
    await page.keyboard.press('Backspace');
    await page.keyboard.sendCharacter(text);
}

async function downloaded(page, name) {
    const file = path.join(page.downloads, name);
    for (let tries = 0; tries < 100 && !fs.existsSync(file); ++tries) await new Promise((r) => setTimeout(r, 50));
    assert.ok(fs.existsSync(file), `${name} was downloaded`);
    return file;
}

// Answers the page's question with the choice whose label starts with `label`; the
// choices it offered.
async function answerQuestion(page, label) {
    await page.waitForSelector('#choose[open]');
    const choices = await page.$$eval('#choose button', (buttons) => buttons.map((b) => b.textContent));
    await page.evaluate((l) => [...document.querySelectorAll('#choose button')].find((b) => b.textContent.startsWith(l)).click(),
                        label);
    return choices;
}

function bytone(...args) {
    return execFileSync(tool, args, { encoding: 'utf8' });
}

test('typing a formula shows the compiler messages, where each stopped, and keeps upper case', async () => {
    const page = await openPage();
    // The status counts characters from 1; the box marks the character (past the end, a space).
    const cases = [
        ['p&t', 'P&T', 'OK', null],
        ['P*(', 'P*(', 'Missing closing parenthesis at 4', ' '],
        ['1 2', '1 2', 'Syntax error at 3', '2'],
        ['P**3', 'P**3', 'Syntax error at 3', '*'],
        ['P@1', 'P@1', 'Unexpected symbol during parsing at 2', '@'],
        ['(P))', '(P))', 'Extra closing parenthesis at 4', ')'],
        ['(P*V/64)&255', '(P*V/64)&255', 'OK', null],
        ['beat>>15&1?p:t', 'BEAT>>15&1?P:T', 'OK', null],  // the words of the extended language
        ['p&255,t&255', 'P&255,T&255', 'OK', null],  // and stereo
        ['pt', 'PT', 'Syntax error at 1', 'P'],
        ['é p**2', 'É P**2', 'Syntax error at 5', '*'],  // a character a place
    ];
    for (const [typed, box, status, marked] of cases) {
        await typeFormula(page, typed);
        await waitFor(page, (s) => s.formula === box && s.status === status && s.marked === marked,
                      `"${box}" with "${status}", ${marked} marked`);
    }
    await page.close();
});

test('Play runs the page\'s transport at its tempo, shown in bars and beats, and Stop holds it', async () => {
    const page = await openPage();
    const position = () => page.$eval('#position', (o) => o.value);
    assert.equal(await position(), '1.1');
    await page.$eval('#tempo', (t) => {
        t.value = '480';
        t.dispatchEvent(new Event('change'));
    });
    await page.click('#play');
    assert.equal(await page.$eval('#play', (b) => b.textContent), 'Stop');
    await page.waitForFunction(() => document.getElementById('position').value >= '2.1', { timeout: 5000 });
    await page.click('#play');
    const held = await position();
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.equal(await position(), held);
    assert.equal(await page.$eval('#play', (b) => b.getAttribute('aria-pressed')), 'false');
    // The strip's switches and labels answer the keyboard as the others do.
    await page.focus('[data-control="mpe"]');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelector('[data-control="mpe"]').getAttribute('aria-checked') === 'true');
    await page.focus('[data-control="release"]');
    await page.keyboard.press('PageUp');
    await page.waitForFunction(() => document.querySelector('[data-control="release"]').getAttribute('aria-valuenow') === '100');
    await page.close();
});

test('a formula at the length limit compiles, a longer one is cut with a message', async () => {
    const page = await openPage();
    const limit = 'P' + '+1'.repeat(511);  // 1023 characters
    await typeFormula(page, limit);
    await waitFor(page, (s) => s.formula === limit && s.status === 'OK', 'the 1023-character formula');
    assert.equal((await shown(page)).message, '');
    await page.keyboard.sendCharacter('+1');
    const now = await waitFor(page, (s) => /at most 1023/.test(s.message), 'the length message');
    assert.equal(now.formula, limit);
    assert.equal(now.status, 'OK');
    await page.close();
});

test('choosing a program loads its formula, as the plug-in lists it', async () => {
    const page = await openPage();
    const listed = bytone('programs').split('\n');
    for (const index of [5, 21, 37]) {
        await page.select('#program', String(index));
        const formula = listed[index].slice(37).trim();
        const now = await waitFor(page, (s) => s.program === index && s.formula === formula, `program ${index}`);
        assert.equal(now.name, listed[index].slice(5, 37).trim());
    }
    await page.close();
});

test('a MIDI device plays through the engine\'s own intake', async () => {
    // A MIDI input of the page's own, where a browser would offer a device's; the first
    // request is refused, as a user who said no at first.
    const page = await openPage('', (p) =>
        p.evaluateOnNewDocument(() => {
            window.midiDevice = { name: 'Keys' };
            let asked = 0;
            navigator.requestMIDIAccess = async () => {
                if (++asked === 1) throw new DOMException('refused', 'NotAllowedError');
                return { inputs: new Map([['keys', window.midiDevice]]) };
            };
        }),
    );
    const status = () => page.$eval('#midi-status', (s) => s.textContent);
    assert.equal(await status(), 'MIDI: off', 'nothing is asked before the user asks');
    await page.click('#midi');
    await page.waitForFunction(() => document.getElementById('midi-status').textContent === 'MIDI: access refused');
    await page.click('#midi');
    await page.waitForFunction(() => document.getElementById('midi-status').textContent === 'MIDI: 1 input');
    const send = (bytes) => page.evaluate((b) => window.midiDevice.onmidimessage({ data: new Uint8Array(b) }), bytes);
    const lit = () => page.$eval('#keyboard [data-key="60"]', (k) => k.classList.contains('down'));
    await send([0x90, 60, 100]);
    assert.ok(await lit(), 'a device\'s note lights its key');
    await send([0x90, 60, 0]);
    assert.ok(!(await lit()), 'and its note off puts it out');
    const listed = bytone('programs').split('\n');
    await send([0xc0, 17]);  // a program change selects program 17, as in a host
    await waitFor(page, (s) => s.program === 17 && s.formula === listed[17].slice(37).trim(), 'program 17');
    await send([0xf8]);  // a clock tick is not a channel message: nothing happens
    await send([0xc9, 30]);
    await waitFor(page, (s) => s.program === 30, 'program 30 from channel 10');
    await page.close();
});

test('the value bars and buttons answer the mouse as in the plug-in', async () => {
    const page = await openPage();
    await browser.defaultBrowserContext().overridePermissions(origin, ['clipboard-read', 'clipboard-sanitized-write']);
    const centre = (name) =>
        page.evaluate((n) => {
            const r = document.querySelector(`#editor [data-control="${n}"]`).getBoundingClientRect();
            return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
        }, name);
    const poly = await centre('poly');
    await page.mouse.move(poly.x, poly.y);
    await page.mouse.wheel({ deltaY: 100 });  // one notch down: one voice fewer
    await waitFor(page, (s) => s.poly === 'Poly: 7', 'Poly: 7');
    const gain = await centre('gain');
    await page.mouse.move(gain.x, gain.y);
    await page.mouse.down();
    await page.mouse.move(gain.x + 40, gain.y, { steps: 4 });  // two pixels a step
    await page.mouse.up();
    await waitFor(page, (s) => s.gain === 'Gain: 120', 'Gain: 120');
    await page.mouse.click(gain.x, gain.y, { button: 'right' });
    await waitFor(page, (s) => s.gain === 'Gain: 100', 'Gain: 100 after the reset');

    // Lerp's bar fills when it is switched on.
    const lerpBar = () =>
        page.evaluate(() => {
            const [r, g, b] = document.getElementById('window').getContext('2d').getImageData(120, 17, 1, 1).data;
            return (r << 16) | (g << 8) | b;
        });
    assert.equal(await lerpBar(), 0xf0f0f0);
    const lerp = await centre('lerp');
    await page.mouse.click(lerp.x, lerp.y);
    for (let tries = 0; tries < 50 && (await lerpBar()) !== 0xc8c8c8; ++tries) await new Promise((r) => setTimeout(r, 50));
    assert.equal(await lerpBar(), 0xc8c8c8);

    // Copy and Paste go through the system clipboard.
    const copy = await centre('copy');
    await page.mouse.click(copy.x, copy.y);
    for (let tries = 0; tries < 50 && (await page.evaluate(() => navigator.clipboard.readText())) !== 'P&255'; ++tries)
        await new Promise((r) => setTimeout(r, 50));
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), 'P&255');
    await page.evaluate(() => navigator.clipboard.writeText('p*v/64'));
    const paste = await centre('paste');
    await page.mouse.click(paste.x, paste.y);
    await waitFor(page, (s) => s.formula === 'P*V/64' && s.status === 'OK', 'the pasted formula');
    await page.close();
});

test('the letter keys play after the lists and the slider were used, but not in text fields', async () => {
    const page = await openPage();
    const lit = () => page.$eval('#keyboard [data-key="48"]', (k) => k.classList.contains('down'));
    for (const [field, plays] of [['#program', true], ['#velocity', true], ['#channel', true], ['#name', false],
                                  ['#formula', false]]) {
        await page.focus(field);
        await page.keyboard.down('z');
        assert.equal(await lit(), plays, field);
        await page.keyboard.up('z');
    }
    await page.close();
});

test('Ctrl+Z and the Undo and Redo buttons step through the typed formulas, whatever their case', async () => {
    const page = await openPage();
    await typeFormula(page, 'p&t');
    await page.keyboard.sendCharacter('*2');
    await waitFor(page, (s) => s.formula === 'P&T*2', 'P&T*2');
    const withKeys = (keys, last) => async () => {
        for (const k of keys) await page.keyboard.down(k);
        await page.keyboard.press(last);
        for (const k of [...keys].reverse()) await page.keyboard.up(k);
    };
    const steps = [
        [withKeys(['Control'], 'z'), 'P&T'],
        [withKeys(['Control', 'Shift'], 'Z'), 'P&T*2'],
        [() => page.click('#undo'), 'P&T'],
        [() => page.click('#redo'), 'P&T*2'],
        [withKeys(['Control'], 'y'), 'P&T*2'],  // nothing further to redo
    ];
    for (const [act, formula] of steps) {
        await act();
        await waitFor(page, (s) => s.formula === formula && s.status === 'OK', formula);
    }
    // Typed key by key, a step is a word: a run of letters, digits or other characters
    // with the spaces after it, or a run of deletions; a pause of a second ends one, and a
    // paste is one.
    await typeFormula(page, '');
    await page.keyboard.type('p*(t+12 ');
    await page.keyboard.press('Backspace');
    await page.keyboard.press('Backspace');
    await page.keyboard.type('3');
    await new Promise((r) => setTimeout(r, 1100));
    await page.keyboard.type('4)');
    await page.$eval('#formula', (box) => {
        box.setRangeText('&255', box.value.length, box.value.length, 'end');
        box.dispatchEvent(new InputEvent('input', { inputType: 'insertFromPaste', data: null }));
    });
    const undone = [];
    for (let i = 0; i < 11; ++i) {
        undone.push((await shown(page)).formula);
        await withKeys(['Control'], 'z')();
    }
    assert.deepEqual(undone, ['P*(T+134)&255', 'P*(T+134)', 'P*(T+134', 'P*(T+13', 'P*(T+1', 'P*(T+12 ', 'P*(T+',
                              'P*(T', 'P*(', 'P', '']);
    await page.close();
});

test('a drag the browser cancels ends as a release, and touches do not scroll the editor', async () => {
    const page = await openPage();
    for (const element of ['#window', '#keyboard'])
        assert.equal(await page.$eval(element, (e) => getComputedStyle(e).touchAction), 'none', element);
    const gain = await page.evaluate(() => {
        const r = document.querySelector('#editor [data-control="gain"]').getBoundingClientRect();
        return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
    });
    await page.mouse.move(gain.x, gain.y);
    await page.mouse.down();
    await page.$eval('#window', (canvas, at) =>
        canvas.dispatchEvent(new PointerEvent('pointercancel', { clientX: at.x, clientY: at.y, pointerId: 1 })), gain);
    await page.mouse.move(gain.x + 40, gain.y, { steps: 4 });
    await page.mouse.up();
    await new Promise((r) => setTimeout(r, 200));
    assert.equal((await shown(page)).gain, 'Gain: 100');
    // On a phone's screen every button, list and text field is a target of 32 pixels or more.
    await page.setViewport({ width: 390, height: 800, hasTouch: true, isMobile: true });
    const smallest = await page.$$eval('button, select, input[type="text"]', (all) =>
        Math.min(...all.filter((e) => e.offsetParent).map((e) => e.getBoundingClientRect().height)));
    assert.ok(smallest >= 32, `the smallest target is ${smallest} pixels high`);
    await page.close();
});

test('the bank is kept in the browser across a reload, and Revert to presets brings the presets back', async () => {
    const page = await openPage();
    await typeFormula(page, 'p*7');
    await waitFor(page, (s) => s.formula === 'P*7' && s.status === 'OK', 'P*7');
    await new Promise((r) => setTimeout(r, 1500));
    await page.reload();
    await page.waitForSelector('body[data-ready]', { timeout: 20000 });
    await waitFor(page, (s) => s.formula === 'P*7', 'the kept formula after the reload');
    page.on('dialog', (dialog) => dialog.accept());
    await page.click('#revert');
    await waitFor(page, (s) => s.formula === 'P&255' && /^The presets are back/.test(s.message), 'the presets');
    await page.click('#undo');
    await waitFor(page, (s) => s.formula === 'P*7', 'the kept formula again');
    await page.close();
});

test('Hold keeps notes, All notes off ends them, and the mod wheel and the springing bend send their messages', async () => {
    // The page's messages to the instrument, as they leave.
    const page = await openPage('', (p) =>
        p.evaluateOnNewDocument(() => {
            window.sent = [];
            const post = MessagePort.prototype.postMessage;
            MessagePort.prototype.postMessage = function (message, ...rest) {
                if (message?.what === 'midi') window.sent.push(message.bytes);
                return post.call(this, message, ...rest);
            };
        }),
    );
    const lit = () => page.$eval('#keyboard [data-key="48"]', (k) => k.classList.contains('down'));
    await page.click('#hold');
    await page.keyboard.press('z');
    assert.ok(await lit(), 'held after the key is let go');
    await page.click('#hold');
    assert.ok(!(await lit()), 'let go with Hold');
    await page.click('#hold');
    await page.keyboard.press('z');
    await page.evaluate(() => (window.sent = []));
    await page.click('#panic');
    assert.ok(!(await lit()));
    assert.equal(await page.$eval('#hold', (b) => b.getAttribute('aria-pressed')), 'false');
    const sent = await page.evaluate(() => window.sent);
    assert.deepEqual(sent.filter((b) => b[1] === 123).length, 16, 'all notes off on each channel');

    await page.evaluate(() => (window.sent = []));
    for (const [id, value] of [['mod', 64], ['bend', 4096]])
        await page.$eval(`#${id}`, (slider, v) => {
            slider.value = String(v);
            slider.dispatchEvent(new Event('input'));
            slider.dispatchEvent(new PointerEvent('pointerup'));
        }, value);
    assert.deepEqual(await page.evaluate(() => window.sent), [[0xb0, 1, 64], [0xe0, 0, 96], [0xe0, 0, 64]]);
    assert.equal(await page.$eval('#bend', (slider) => slider.value), '0');
    await page.close();
});

test('the meter follows the output, the clip light catches full scale, and a recording can be 16-bit', async () => {
    const page = await openPage('#formula=255&gain=200');  // each voice a constant half of full scale
    await waitFor(page, (s) => s.formula === '255' && s.gain === 'Gain: 200', 'the loud program');
    const clip = () => page.$eval('#clip', (b) => b.classList.contains('on'));
    assert.ok(!(await clip()));
    await page.select('#wav-format', '16');
    await page.click('#record');
    await page.click('#hold');
    for (const key of ['z', 'x', 'c']) await page.keyboard.press(key);  // three voices: more than full scale
    await page.waitForFunction(() => document.getElementById('level').value > 0.9);
    assert.ok(await clip());
    // The spectrum beside the meter lights at its low end, where a constant's energy is.
    const lit = () => page.$eval('#spectrum', (c) => {
        const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
        const columns = new Set();
        for (let i = 0; i < data.length; i += 4) if (data[i + 2] > 200) columns.add((i / 4) % c.width);
        return [...columns];
    });
    for (let tries = 0; tries < 40 && (await lit()).length === 0; ++tries) await new Promise((r) => setTimeout(r, 50));
    const columns = await lit();
    assert.ok(columns.length > 0 && Math.min(...columns) < 20, `the spectrum lights at 20 Hz: ${columns.slice(0, 5)}`);
    await page.click('#record');
    await page.click('#panic');
    await page.waitForSelector('#download:not([hidden])');
    await page.click('#download');
    const recording = new wavefile.WaveFile(fs.readFileSync(await downloaded(page, 'bytone-recording.wav')));
    assert.equal(recording.bitDepth, '16');
    assert.ok(recording.getSamples(false, Int16Array)[0].some((v) => v !== 0), 'the recording holds the notes');
    await page.click('#clip');
    assert.ok(!(await clip()), 'a click clears the clip light');
    await page.close();
});

test('the editor\'s controls and the keys are named for screen readers and work from the keyboard', async () => {
    const page = await openPage();
    const nodes = [];
    const walk = (node) => {
        nodes.push(node);
        for (const child of node.children ?? []) walk(child);
    };
    const tree = async (interestingOnly = true) => {
        nodes.length = 0;
        walk(await page.accessibility.snapshot({ interestingOnly }));
        return nodes;
    };
    const find = (role, name) => nodes.find((n) => n.role === role && n.name === name);
    await tree();
    for (const [role, name] of [['slider', 'Gain'], ['slider', 'Voices'], ['slider', 'Time'], ['switch', 'Clamp'],
                                ['button', 'Copy the formula'], ['button', 'C 3'], ['textbox', 'Formula']])
        assert.ok(find(role, name), `${role} "${name}"`);
    assert.equal(find('slider', 'Gain').value, 100);
    const valueText = () => page.$eval('[data-control="gain"]', (s) => s.getAttribute('aria-valuetext'));
    assert.equal(await valueText(), 'Gain: 100');
    assert.equal(find('switch', 'Clamp').checked, true);
    assert.equal(await page.$eval('[data-control="status"]', (s) => s.getAttribute('aria-live')), 'polite');

    await page.focus('[data-control="gain"]');
    for (const [key, shown] of [['ArrowRight', 'Gain: 101'], ['PageUp', 'Gain: 111'], ['End', 'Gain: 200'],
                                ['Home', 'Gain: 1']]) {
        await page.keyboard.press(key);
        await waitFor(page, (s) => s.gain === shown, shown);
    }
    await page.focus('[data-control="lerp"]');
    await page.keyboard.press('Space');
    await page.waitForFunction(() => document.querySelector('[data-control="lerp"]').getAttribute('aria-checked') === 'true');
    await tree();
    assert.equal(find('slider', 'Gain').value, 1);
    assert.equal(await valueText(), 'Gain: 1');

    // The window's picture and the scope have names; the scope zooms from the keyboard.
    assert.ok(nodes.some((n) => n.role === 'image' && /editor's window/.test(n.name)), 'the canvas');
    assert.ok(find('button', 'Scope: the formula\'s wave. Enter zooms in, Shift+Enter out'), 'the scope');
    const zoom = () => page.evaluate(() => document.querySelector('[data-control="scope"]').dataset.zoom);
    const before = await zoom();
    await page.focus('[data-control="scope"]');
    await page.keyboard.press('Enter');
    await page.waitForFunction((z) => document.querySelector('[data-control="scope"]').dataset.zoom !== z, {}, before);
    await page.keyboard.down('Shift');
    await page.keyboard.press('Enter');
    await page.keyboard.up('Shift');
    await page.waitForFunction((z) => document.querySelector('[data-control="scope"]').dataset.zoom === z, {}, before);
    // The presets are buttons in a list.
    await page.click('#presets-browser summary');
    await tree(false);
    const list = nodes.find((n) => n.role === 'list' && n.children?.length === 38);
    assert.ok(list, 'a list of 38');
    assert.ok(list.children.every((item) => item.role === 'listitem' && item.children?.[0]?.role === 'button'));
    // The on-screen keys: one stop of Tab, the arrows move along, Enter holds a note and
    // a screen reader's click plays one.
    const lit = (key) => page.$eval(`#keyboard [data-key="${key}"]`, (k) => k.classList.contains('down'));
    await page.focus('#keyboard .key[data-key="48"]');
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.key), '49');
    await page.keyboard.down('Enter');
    assert.ok(await lit(49), 'held by Enter');
    await page.keyboard.up('Enter');
    assert.ok(!(await lit(49)), 'let go');
    await page.$eval('#keyboard [data-key="50"]', (k) => k.click());
    assert.ok(await lit(50), 'a click plays');
    await page.waitForFunction(() => !document.querySelector('#keyboard [data-key="50"]').classList.contains('down'));
    await page.close();
});

// Two ways to play key 48 at velocity 100 for 0.6 s: the computer keyboard's Z, and a
// finger on the on-screen keyboard's first key.
const players = [
    ['a key of the computer keyboard', async () => {}, async (page, hold) => {
        await page.keyboard.down('z');
        await hold();
        await page.keyboard.up('z');
    }],
    ['a touch on the on-screen keyboard', (page) => page.setViewport({ width: 800, height: 860, hasTouch: true }),
     async (page, hold) => {
         await page.$eval('#keyboard .key[data-key="48"]', (k) => k.scrollIntoView({ block: 'center' }));
         const key = await (await page.$('#keyboard .key[data-key="48"]')).boundingBox();
         await page.touchscreen.touchStart(key.x + key.width / 2, key.y + key.height - 10);
         await hold();
         await page.touchscreen.touchEnd();
     }, 96000],  // and at another rate than the browser's
];

for (const [way, prepare, play, chosenRate] of players)
    test(`${way} sounds, and its recording equals the plug-in rendering the same note`, async () => {
        const page = await openPage('', prepare);
        if (chosenRate) {
            await page.select('#rate', String(chosenRate));
            await waitFor(page, (s) => s.message === `Sound at ${chosenRate} Hz.`, `sound at ${chosenRate} Hz`);
        }
        await page.select('#program', '3');
        await waitFor(page, (s) => s.program === 3 && s.formula.startsWith('(P&255)'), 'program 3');
        // Typed in the editor's instance, played by the worklet's: time and pitch, no random numbers.
        await typeFormula(page, '(p*3&255)*((255-(t/500))&255)/256');
        await waitFor(page, (s) => s.status === 'OK' && s.formula.startsWith('(P*3'), 'the typed formula');
        // Every program's formula, the typed one included, plays from WebAssembly of its own:
        // the formula, and a voice's loop around it. The bank holds the 38 presets' formulas
        // (the defaults' among them), with the typed one in place of one; programs with
        // the same formula share its code.
        const compiled = await page.evaluate(() => new Promise((resolve) => {
            window.playing.port.addEventListener('message', (e) => e.data.id === 'compiled' && resolve(e.data.result));
            window.playing.port.postMessage({ id: 'compiled', what: 'compiledFormulas' });
        }));
        assert.ok(compiled >= 2 * 38, `${compiled} functions compiled`);
        await page.click('#record');
        await page.waitForFunction(() => document.getElementById('record').textContent.startsWith('Stop recording ('));
        await page.$eval('#formula', (box) => box.blur());
        // The note starts after the first of the recording's buffers has filled (65536 frames).
        await new Promise((r) => setTimeout(r, 1200));
        await play(page, () => new Promise((r) => setTimeout(r, 600)));
        await new Promise((r) => setTimeout(r, 100));
        await page.click('#record');
        await page.waitForSelector('#download:not([hidden])');
        await page.click('#download');
        const recording = new wavefile.WaveFile(fs.readFileSync(await downloaded(page, 'bytone-recording.wav')));
        const rate = recording.fmt.sampleRate;
        if (chosenRate) assert.equal(rate, chosenRate);
        const recorded = recording.getSamples(false, Float64Array);

        const native = path.join(work, 'native.wav');
        bytone('render', note, '-o', native, '--program', '3', '--formula', '(P*3&255)*((255-(T/500))&255)/256',
               '--rate', String(rate), '--block', '128', '--format', 'float', '--tail', '0');
        const expected = new wavefile.WaveFile(fs.readFileSync(native)).getSamples(false, Float64Array);
        // Both float files as readers expect them: sox reads them without a warning.
        for (const file of [path.join(page.downloads, 'bytone-recording.wav'), native]) {
            const read = spawnSync('sox', [file, '-n', 'stat'], { encoding: 'utf8' });
            assert.equal(read.status, 0, `sox reads ${file}: ${read.error ?? read.stderr}`);
            assert.doesNotMatch(read.stderr, /WARN/, file);
        }

        // The note starts at a block of the page's choosing: compare from the first sound on.
        const start = (samples) => samples.findIndex((v) => v !== 0);
        const from = start(recorded[0]);
        assert.ok(from >= 0, 'the recording holds sound');
        const length = Math.floor(rate * 0.4);
        for (let channel = 0; channel < 2; ++channel) {
            const got = recorded[channel].slice(from, from + length);
            const want = expected[channel].slice(start(expected[channel]), start(expected[channel]) + length);
            assert.equal(got.length, length);
            assert.deepEqual(got, want, `channel ${channel} equals the plug-in's samples`);
        }
        await page.close();
    });

test('banks, programs and chunks saved by the page are read by the tool, and its bank loads into the page', async () => {
    const page = await openPage();
    await page.select('#program', '7');
    await waitFor(page, (s) => s.program === 7, 'program 7');
    await typeFormula(page, 'P*3&255');
    await waitFor(page, (s) => s.formula === 'P*3&255' && s.status === 'OK', 'the new formula');
    await page.$eval('#name', (input) => {
        input.value = 'Tripled';
        input.dispatchEvent(new Event('change'));
    });
    await page.waitForFunction(() => document.getElementById('program').options[7].text === 'Tripled');
    for (const [button, file] of [['#save-fxb', 'bytone-bank.fxb'], ['#save-fxp', 'Tripled.fxp'],
                                  ['#save-raw', 'bytone-chunk.bin']]) {
        await page.click(button);
        const listed = bytone('programs', '--state', await downloaded(page, file)).split('\n');
        assert.match(listed[7], /^ {2}7 {2}Tripled +P\*3&255$/, file);
        assert.match(listed[0], /001 Saw +P&255$/, file);
    }

    const written = path.join(work, 'from-tool.fxb');
    bytone('render', note, '-o', path.join(work, 'ignored.wav'), '--tail', '0', '--program', '12',
           '--formula', 'T*P/9', '--save-state', written);
    // Over the changed bank: the page asks first, and Undo brings the bank back.
    const open = async (answer) => {
        const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#open')]);
        await chooser.accept([written]);
        assert.deepEqual(await answerQuestion(page, answer), ['Replace the bank', 'Cancel']);
    };
    await open('Cancel');
    await waitFor(page, (s) => s.program === 7 && /was not opened/.test(s.message), 'the bank kept');
    await open('Replace');
    await waitFor(page, (s) => s.program === 12 && s.formula === 'T*P/9' && /Opened/.test(s.message),
                  'the tool\'s bank with its current program');
    await page.click('#undo');
    await waitFor(page, (s) => s.program === 7 && s.formula === 'P*3&255' && s.name === 'Tripled', 'the bank back');
    await page.close();
});

test('files that are not state files get a message and change nothing', async () => {
    const page = await openPage();
    await typeFormula(page, 'P^T');
    await waitFor(page, (s) => s.formula === 'P^T' && s.status === 'OK', 'the typed formula');
    const chunk = path.join(work, 'whole.bin'), bank = path.join(work, 'whole.fxb');
    for (const file of [chunk, bank])
        bytone('render', note, '-o', path.join(work, 'ignored.wav'), '--tail', '0', '--save-state', file);
    const bankBytes = fs.readFileSync(bank);
    bankBytes.writeUInt32BE(bankBytes.readUInt32BE(156) - 400, 156);  // the size field says less than follows
    const cases = [
        ['notes.txt', Buffer.from('these are not the files you are looking for'), /not a Bytone state file/],
        ['empty.fxb', Buffer.alloc(0), /not a Bytone state file/],
        ['short.fxp', Buffer.from('CcnK\0\0\0\x10FPCh'), /ends inside its header/],
        ['half.bin', fs.readFileSync(chunk).subarray(0, 6000), /cut short/],
        ['smaller.fxb', bankBytes, /is smaller than the \d+ bytes that follow/],
        ['huge.bin', Buffer.alloc(3 << 20), /more than any state file holds/],
    ];
    for (const [name, bytes, message] of cases) {
        fs.writeFileSync(path.join(work, name), bytes);
        const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#open')]);
        await chooser.accept([path.join(work, name)]);
        const now = await waitFor(page, (s) => s.message.startsWith(name), `the message for ${name}`);
        assert.match(now.message, message);
        assert.match(now.message, /Nothing was changed/);
        assert.equal(now.formula, 'P^T');
    }
    await page.close();
});

test('settings out of range in a file are brought into range, so the page\'s own link takes them', async () => {
    const file = path.join(work, 'wild.bin');
    bytone('render', note, '-o', path.join(work, 'ignored.wav'), '--tail', '0', '--save-state', file);
    const bytes = fs.readFileSync(file);
    const tagAt = (bits) => [...Array(bytes.length / 4).keys()].find((i) => bytes.readUInt32LE(4 * i) === bits) * 4;
    bytes.writeFloatLE(2147483647, tagAt(0x4d214e7d) + 4);  // Porta
    bytes.writeFloatLE(-536870912, tagAt(0x4d030e9d) + 4);  // Time
    fs.writeFileSync(file, bytes);
    const page = await openPage();
    const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#open')]);
    await chooser.accept([file]);
    await waitFor(page, (s) => /Opened/.test(s.message), 'the file opened');
    await page.click('#share');
    await page.waitForFunction(() => document.getElementById('link').value !== '');
    const link = await page.$eval('#link', (input) => input.value);
    assert.match(link, /&porta=100&time=1&/);
    const other = await openPage(new URL(link).hash);
    await waitFor(other, (s) => /Opened the shared program/.test(s.message), 'the link taken');
    await other.close();
    await page.close();
});

test('a shared link brings the program and its settings to another page', async () => {
    const page = await openPage();
    await page.select('#program', '9');
    await typeFormula(page, '(T/4)&P');
    await page.evaluate(() => {
        const name = document.getElementById('name');
        name.value = 'Shared one';
        name.dispatchEvent(new Event('change'));
    });
    const poly = await page.evaluate(() => {
        const r = document.querySelector('#editor [data-control="poly"]').getBoundingClientRect();
        return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
    });
    await page.mouse.move(poly.x, poly.y);
    await page.mouse.wheel({ deltaY: 300 });
    const edited = await waitFor(page, (s) => s.poly === 'Poly: 5' && s.name === 'Shared one', 'the edits');
    await page.click('#share');
    await page.waitForFunction(() => document.getElementById('link').value !== '');
    const link = await page.$eval('#link', (input) => input.value);
    assert.match(link, /#program=10&name=Shared%20one&formula=\(T%2F4\)%26P&poly=5&/);

    const other = await openPage(new URL(link).hash);
    const restored = await waitFor(other, (s) => s.formula === '(T/4)&P', 'the shared formula');
    for (const key of ['formula', 'status', 'poly', 'gain', 'drum', 'program', 'name']) assert.equal(restored[key], edited[key]);
    await other.close();

    await page.close();
    // A hand-made link: '+' is a plus, a missing name keeps the program's, a long one is
    // cut to the 24 characters the instrument keeps; and one pasted into an open page.
    const handMade = await openPage('#program=2&formula=P+1');
    await waitFor(handMade, (s) => s.formula === 'P+1' && s.program === 1 && s.name === '002 Pulse', 'P+1 in "002 Pulse"');
    const long = 'A name of more than twenty-four letters';
    await handMade.evaluate((n) => (location.hash = `#program=5&name=${encodeURIComponent(n)}&formula=P%2A2`), long);
    const cut = await waitFor(handMade, (s) => s.formula === 'P*2' && s.program === 4 && /twen/.test(s.message),
                              'the pasted link');
    assert.equal(cut.name, long.slice(0, 24));
    assert.equal(cut.message, `Opened the shared program "${long.slice(0, 24)}" (its name cut to the 24 characters ` +
                              'a program\'s name holds). Undo brings back what it replaced.');
    await handMade.close();

    const broken = [
        ['#program=3&formula=%E0%A4%A', /the formula does not decode/],
        ['#formula=P&volume=3', /unknown field "volume"/],
        ['#formula=P&poly=9', /poly 9 is outside 1\.\.8/],
        ['#formula=P&zoom=2147483647', /zoom 2147483647 is outside 0\.\.7/],
        [`#formula=P&zoom=${'9'.repeat(40)}`, /zoom 999999999999… is outside 0\.\.7/],
        [`#formula=${'P'.repeat(1024)}`, /longer than 1023 characters/],
        ['#name=Empty', /it has no formula/],
    ];
    for (const [fragment, why] of broken) {
        const tried = await openPage(fragment);
        const now = await waitFor(tried, (s) => /could not be read/.test(s.message), `the message for ${fragment}`);
        assert.match(now.message, why);
        assert.match(now.message, /Nothing was changed/);
        assert.equal(now.formula, 'P&255');
        await tried.close();
    }
});

test('a link over a program the user changed asks first, and Undo brings the program back', async () => {
    const page = await openPage();
    await page.select('#program', '6');
    await typeFormula(page, 'P*7&255');
    const mine = await waitFor(page, (s) => s.formula === 'P*7&255' && s.status === 'OK', 'the edit');
    await new Promise((r) => setTimeout(r, 1200));  // kept in the browser
    const link = '#program=7&name=Friend&formula=P%2A3%26255';
    const answer = (label) => answerQuestion(page, label);
    // Reloaded with the link: the kept edit is there, and the page asks.
    await page.goto(`${origin}/index.html${link}`);
    await page.waitForSelector('body[data-ready]', { timeout: 20000 });
    assert.deepEqual(await answer('Cancel'), ['Replace program 7', 'Put it in program 1, "001 Saw", unchanged so far', 'Cancel']);
    await waitFor(page, (s) => /was not opened/.test(s.message) && s.formula === 'P*7&255' && s.program === 6, 'kept');
    // Replaced: one step of Undo brings the edit back, name and all; Redo the link's.
    await page.evaluate((l) => (location.hash = l), link.replace('Friend', 'Friend2'));
    await answer('Replace');
    await waitFor(page, (s) => s.formula === 'P*3&255' && s.name === 'Friend2' && s.program === 6, 'the link');
    await page.click('#undo');
    await waitFor(page, (s) => s.formula === 'P*7&255' && s.name === mine.name && s.program === 6, 'the edit back');
    await page.click('#redo');
    await waitFor(page, (s) => s.formula === 'P*3&255' && s.name === 'Friend2', 'the link again');
    // Put in the first program still as a new instance has it.
    await page.evaluate((l) => (location.hash = l), link.replace('Friend', 'Friend3'));
    await answer('Put it in');
    const placed = await waitFor(page, (s) => s.formula === 'P*3&255' && s.name === 'Friend3' && s.program === 0, 'placed');
    assert.match(placed.message, /Undo brings back what it replaced/);
    assert.equal((await page.$$eval('#program option', (o) => o.map((x) => x.textContent)))[6], 'Friend2');
    await page.close();
});

test('two pages share the kept bank: each takes the other\'s edit, and a new page has both', async () => {
    const first = await openPage();
    const second = await openPage();
    const edit = async (page, program, formula) => {
        await page.select('#program', String(program));
        await typeFormula(page, formula);
        await waitFor(page, (s) => s.formula === formula && s.status === 'OK', formula);
    };
    await edit(first, 1, 'P*2&255');
    await edit(second, 2, 'P*3&255');
    // Each page shows the other's edit (kept within a second, and told at once).
    const shows = async (page, program, formula) => {
        for (let tries = 0; tries < 40; ++tries) {
            await page.select('#program', String(program));
            if ((await shown(page)).formula === formula) return;
            await new Promise((r) => setTimeout(r, 100));
        }
        assert.fail(`program ${program} never held ${formula}`);
    };
    await shows(first, 2, 'P*3&255');
    await shows(second, 1, 'P*2&255');
    await new Promise((r) => setTimeout(r, 1500));  // both kept
    await first.close({ runBeforeUnload: true });
    await second.close({ runBeforeUnload: true });
    const fresh = await openPage('', async () => {}, { keepStorage: true });
    await fresh.select('#program', '1');
    await waitFor(fresh, (s) => s.program === 1 && s.formula === 'P*2&255', 'the first page\'s edit');
    await fresh.select('#program', '2');
    await waitFor(fresh, (s) => s.program === 2 && s.formula === 'P*3&255', 'the second page\'s edit');
    await fresh.close();
});

test('typing while eight heavy voices play causes no more dropouts than playing alone', async () => {
    // The audio context, where the test can read its playback statistics.
    const page = await openPage('', (p) =>
        p.evaluateOnNewDocument(() => {
            const Original = window.AudioContext;
            window.AudioContext = class extends Original {
                constructor(...options) {
                    super(...options);
                    window.audio = this;
                }
            };
        }),
    );
    const heavy = '(P&255)' + '+((P*3>>2)^(T>>9)&15)'.repeat(12);  // 271 characters
    await typeFormula(page, heavy);
    await page.select('#program', '0');
    await waitFor(page, (s) => s.status === 'OK' && s.formula === heavy.toUpperCase(), 'the heavy formula');
    await page.$eval('#formula', (box) => box.blur());
    await page.click('#hold');
    for (const key of ['z', 'x', 'c', 'v', 'b', 'n', 'm', 'q']) await page.keyboard.press(key);
    const underruns = () => page.evaluate(() => window.audio.playbackStats.underrunEvents);
    await new Promise((r) => setTimeout(r, 500));  // past the voices' start
    const start = await underruns();
    await new Promise((r) => setTimeout(r, 3000));
    const alone = (await underruns()) - start;
    await page.$eval('#formula', (box) => {
        box.focus();
        box.setSelectionRange(box.value.length, box.value.length);
    });
    const typing = await underruns();
    // Ten keystrokes a second for three seconds, each a space after the formula: each
    // compiles anew, and the formula stays valid (a formula that does not compile plays
    // from its interpreter, and slower: that is the formula's cost, not the editor's).
    for (let i = 0; i < 30; ++i) {
        await page.keyboard.sendCharacter(' ');
        await new Promise((r) => setTimeout(r, 100));
    }
    const whileTyping = (await underruns()) - typing;
    await page.click('#panic');
    // A few dropouts either way are the machine's noise; a keystroke that stalled the audio
    // thread would cost several each, thirty keystrokes far more.
    assert.ok(whileTyping <= alone + 5, `${whileTyping} dropouts while typing, ${alone} while playing alone`);
    await page.close();
});

test('the preset browser shows each preset, plays the preset whatever the bank holds, and loads it when asked', async () => {
    const page = await openPage();
    await page.click('#presets-browser summary');
    const cards = await page.$$eval('#presets > li.preset', (all) =>
        all.map((item) => ({ title: item.querySelector('strong').textContent, line: item.querySelector('span').textContent })));
    assert.equal(cards.length, 38);
    assert.deepEqual(cards[0], { title: '001 Saw', line: 'A plain sawtooth: the phase cut to a byte.' });
    await page.waitForFunction(() => [...document.querySelectorAll('#presets img')].every((i) => i.complete && i.naturalWidth === 1160),
                               { timeout: 10000 });
    // Program 1 edited: holding "001 Saw" plays the sawtooth all the same, as the tool
    // renders preset 1 at A3, and leaves the bank alone.
    await typeFormula(page, 'T>>9&P');
    await waitFor(page, (s) => s.formula === 'T>>9&P' && s.status === 'OK', 'the edit');
    const card = await page.$('#presets .preset:nth-child(1) .play');
    await card.scrollIntoView();
    const box = await card.boundingBox();
    await page.click('#record');
    await page.waitForFunction(() => document.getElementById('record').textContent.startsWith('Stop recording ('));
    await new Promise((r) => setTimeout(r, 1200));  // the recording's first buffer
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await new Promise((r) => setTimeout(r, 600));
    await page.mouse.up();
    await page.click('#record');
    await page.waitForSelector('#download:not([hidden])');
    await page.click('#download');
    const recording = new wavefile.WaveFile(fs.readFileSync(await downloaded(page, 'bytone-recording.wav')));
    const recorded = recording.getSamples(false, Float64Array)[0];
    const a3 = writeNoteFile(path.join(work, 'a3.mid'), 57);
    const native = path.join(work, 'a3.wav');
    bytone('render', a3, '-o', native, '--rate', String(recording.fmt.sampleRate), '--block', '128', '--format', 'float',
           '--tail', '0');
    const expected = new wavefile.WaveFile(fs.readFileSync(native)).getSamples(false, Float64Array)[0];
    const start = (samples) => samples.findIndex((v) => v !== 0);
    const length = Math.floor(recording.fmt.sampleRate * 0.3);
    assert.ok(start(recorded) >= 0, 'the preset sounds');
    assert.deepEqual(recorded.slice(start(recorded), start(recorded) + length),
                     expected.slice(start(expected), start(expected) + length), 'the preset\'s samples');
    const kept = await shown(page);
    assert.equal(kept.formula, 'T>>9&P');
    // Loaded when asked: into its own program, which holds the edit, after asking.
    await page.click('#presets .preset:nth-child(1) .load');
    await answerQuestion(page, 'Replace program 1');
    await waitFor(page, (s) => s.formula === 'P&255' && s.program === 0 && /Loaded preset 001 Saw/.test(s.message), 'loaded');
    await page.click('#undo');
    await waitFor(page, (s) => s.formula === 'T>>9&P', 'the edit back');
    await page.close();
});

test('without sound the editor, the programs and the links still work, and say why there is no sound', async () => {
    const page = await openPage('#program=4&formula=P*2', (p) =>
        p.evaluateOnNewDocument(() => {
            window.AudioContext = class {
                constructor() {
                    throw new DOMException('no audio device', 'NotSupportedError');
                }
            };
        }),
    );
    await waitFor(page, (s) => s.formula === 'P*2' && s.program === 3, 'the link\'s program');
    assert.match((await shown(page)).message, /Sound could not start \(no audio device\); the editor/);
    await typeFormula(page, 'p^t');
    await waitFor(page, (s) => s.formula === 'P^T' && s.status === 'OK', 'a typed formula compiled');
    await page.select('#program', '5');
    await waitFor(page, (s) => s.program === 5 && s.formula === '(P&255)^((P*257/256)&127)', 'program 5');
    assert.ok(await page.$eval('#record', (b) => b.disabled));
    assert.ok(await page.$eval('#start', (b) => b.hidden), 'no button that cannot start sound');
    await page.close();
    // An address that is neither https:// nor localhost: the browser offers no worklet.
    const insecure = await openPage('', (p) =>
        p.evaluateOnNewDocument(() => Object.defineProperty(BaseAudioContext.prototype, 'audioWorklet', { get: () => undefined })));
    assert.match((await shown(insecure)).message, /Sound could not start \(the browser offers audio worklets only to pages at https:/);
    assert.ok(await insecure.$eval('#start', (b) => b.hidden), 'no button that cannot start sound');
    await insecure.close();
});

test('on a phone the page lays out its own controls, large enough to touch, with the keyboard in view', async () => {
    const page = await openPage('', (p) => p.setViewport({ width: 390, height: 844, hasTouch: true, isMobile: true }));
    const sizes = await page.evaluate(() => {
        const visible = (e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden';
        const heights = (selector) => [...document.querySelectorAll(selector)].filter(visible).map((e) => e.getBoundingClientRect().height);
        const keyboard = document.getElementById('keyboard').getBoundingClientRect();
        return {
            formula: parseFloat(getComputedStyle(document.getElementById('formula')).fontSize),
            controls: heights('#editor [role="slider"], #editor [role="switch"], #editor .text[role="button"]'),
            buttons: heights('button'),
            keys: heights('#keyboard .key'),
            keyboard: { top: keyboard.top, bottom: keyboard.bottom },
            window: getComputedStyle(document.getElementById('window')).display,
        };
    });
    assert.ok(sizes.formula >= 14, `formula text ${sizes.formula} px`);
    for (const kind of ['controls', 'buttons', 'keys']) {
        assert.ok(sizes[kind].length > 0, kind);
        assert.ok(Math.min(...sizes[kind]) >= 32, `${kind}: ${Math.min(...sizes[kind])} px`);
    }
    assert.ok(sizes.keyboard.top >= 0 && sizes.keyboard.bottom <= 844, `the keyboard at ${JSON.stringify(sizes.keyboard)}`);
    assert.equal(sizes.window, 'none', 'the picture of the window gives way to the page\'s controls');
    // A tap along a value bar sets its value; a long press resets it.
    const middle = async (name, along = 0.5) => {
        const box = await (await page.$(`#editor [data-control="${name}"]`)).boundingBox();
        return { x: box.x + box.width * along, y: box.y + box.height / 2 };
    };
    const at = await middle('gain', 0.999);
    await page.touchscreen.tap(at.x, at.y);
    await waitFor(page, (s) => Number(s.gain.replace('Gain: ', '')) >= 195, 'a tap at the end of Gain');
    const held = await middle('gain');
    await page.touchscreen.touchStart(held.x, held.y);
    await new Promise((r) => setTimeout(r, 800));
    await page.touchscreen.touchEnd();
    await waitFor(page, (s) => s.gain === 'Gain: 100', 'Gain reset by a long press');
    // Only what takes a drag keeps a touch from scrolling the page: the value bars and the
    // keys, not the buttons, the switches or the preset cards (which play after a moment).
    const touchAction = (selector) => page.$eval(selector, (e) => getComputedStyle(e).touchAction);
    assert.equal(await touchAction('#editor [data-control="gain"]'), 'none');
    assert.equal(await touchAction('#keyboard'), 'none');
    for (const selector of ['#editor [data-control="copy"]', '#editor [data-control="clamp"]', '#presets .play', '#formula'])
        assert.notEqual(await touchAction(selector), 'none', selector);
    await page.close();
});

test('while it loads the page says so, and after a first visit it opens and plays without the network', async () => {
    const page = await browser.newPage();
    await page.goto(`${origin}/index.html`, { waitUntil: 'domcontentloaded' });
    const loading = await page.evaluate(() => ({
        message: document.getElementById('message').textContent,
        answers: !document.getElementById('editor').closest('[inert]'),
        width: document.getElementById('editor').getBoundingClientRect().width,
    }));
    if (!(await page.$('body[data-ready]'))) {
        assert.equal(loading.message, 'Loading the instrument…');
        assert.equal(loading.answers, false, 'the controls wait');
    }
    await page.waitForSelector('body[data-ready]', { timeout: 20000 });
    assert.equal(await page.$eval('#message', (m) => m.textContent), '');
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 20000 });
    const manifest = await page.$eval('link[rel="manifest"]', (l) => l.href);
    assert.equal(JSON.parse(await (await fetch(manifest)).text()).display, 'standalone');
    await page.setOfflineMode(true);
    await page.reload();
    await page.waitForSelector('body[data-ready]', { timeout: 20000 });
    await page.click('#presets-browser summary');
    await page.waitForFunction(() => [...document.querySelectorAll('#presets img')].every((i) => i.complete && i.naturalWidth === 1160),
                               { timeout: 10000 });
    await page.keyboard.down('z');
    await page.waitForFunction(() => document.getElementById('level').value > 0, { timeout: 5000 });
    await page.keyboard.up('z');
    await page.setOfflineMode(false);
    await page.close();
});

test('the page as a user first sees it', { skip: !screenshot }, async () => {
    const page = await openPage();
    await page.select('#program', '20');
    await waitFor(page, (s) => s.program === 20 && s.status === 'OK', 'program 20');
    await page.screenshot({ path: screenshot });
    await page.close();
});
