// The programs, files and links: the program list and names, state files opened and
// saved, shared links, the bank kept in the browser's storage, and the preset browser.
import { idle, replaceWith } from './editor_window.js';
import { stateFormat } from './instrument.js';
import { ask, bank, play, wakeSound } from './instances.js';
import { $, choose, say } from './page_dom.js';
import { maxFormula, maxName, readShareFragment, shareFragment } from './share_link.js';

export async function showProgramNames() {
    const names = await ask('names');
    const select = $('program');
    const selected = select.selectedIndex;
    select.replaceChildren(...names.map((name, i) => new Option(name, String(i))));
    select.selectedIndex = Math.max(selected, 0);
}

function download(bytes, fileName, type) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes], { type }));
    link.download = fileName;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

function fileNameOf(programName) {
    const base = programName.replace(/[^A-Za-z0-9 _-]+/g, '').trim() || 'program';
    return base.replace(/ +/g, '-');
}

export function connectPrograms() {
    $('program').addEventListener('change', async () => {
        await ask('selectProgram', { index: $('program').selectedIndex });
        idle(true);
    });
    $('name').addEventListener('change', async () => {
        await ask('renameProgram', { name: $('name').value });
        await showProgramNames();
        idle(true);
    });
    $('open').addEventListener('click', () => $('file').click());
    $('file').addEventListener('change', async () => {
        const file = $('file').files[0];
        $('file').value = '';
        if (!file) return;
        // A size is checked before the file is read: no state file is near this large.
        const largest = await ask('largestFile');
        if (file.size > largest)
            return say(`${file.name}: its ${file.size} bytes are more than any state file holds (at most ` +
                       `${largest}). Nothing was changed.`, true);
        const bytes = new Uint8Array(await file.arrayBuffer());
        // Every state file holds the whole state, which it replaces.
        const problem = await ask('check', { bytes });
        if (problem) return say(`${file.name}: ${problem}. Nothing was changed.`, true);
        if ((await placeFor(-1, file.name)) === null) return say(`${file.name} was not opened: nothing was changed.`);
        await replaceWith(() => ask('load', { bytes }, [bytes.buffer]));
        await showProgramNames();
        say(`Opened ${file.name}. Undo brings back what it replaced.`);
    });
    const save = async (format, fileName) => {
        const bytes = await ask('save', { format });
        download(bytes, fileName, 'application/octet-stream');
        say(`Saved ${fileName}.`);
    };
    $('save-fxb').addEventListener('click', () => save(stateFormat.fxb, 'bytone-bank.fxb'));
    $('save-fxp').addEventListener('click', () => save(stateFormat.fxp, `${fileNameOf($('name').value)}.fxp`));
    $('save-raw').addEventListener('click', () => save(stateFormat.raw, 'bytone-chunk.bin'));
    $('share').addEventListener('click', async () => {
        const fragment = shareFragment(await ask('program'));
        history.replaceState(null, '', fragment);
        const link = $('link');
        link.value = location.href;
        link.hidden = false;
        link.select();
        try {
            await navigator.clipboard.writeText(location.href);
            say('The link to this program is in the address bar and on the clipboard.');
        } catch {
            say('The link to this program is in the address bar and below.');
        }
    });
}

// Where what `source` brings may go: program `index` (-1: the whole bank) when it holds
// nothing the user changed, else as the user chooses: there all the same, the first
// program still as a new instance has it, or nowhere (null).
async function placeFor(index, source) {
    if (!(await ask('changed', { index }))) return index;
    if (index < 0) {
        const choice = await choose(`${source} holds a whole bank, and would replace the programs you changed.`, [
            ['replace', 'Replace the bank'],
            ['cancel', 'Cancel'],
        ]);
        return choice === 'replace' ? index : null;
    }
    const names = await ask('names');
    const free = await ask('firstUnchanged');
    const choice = await choose(`Program ${index + 1}, "${names[index]}", holds your changes, which ${source} would replace.`, [
        ['replace', `Replace program ${index + 1}`],
        ...(free >= 0 ? [['free', `Put it in program ${free + 1}, "${names[free]}", unchanged so far`]] : []),
        ['cancel', 'Cancel'],
    ]);
    return choice === 'replace' ? index : choice === 'free' ? free : null;
}

export async function openSharedLink() {
    const shared = readShareFragment(location.hash, await ask('settings'));
    if (!shared) return;
    if (shared.error) return say(`This link's program could not be read: ${shared.error}. Nothing was changed.`, true);
    // A program that already holds what the link brings loses nothing to it.
    const held = (await ask('programs'))[shared.index];
    const same = held.formula === shared.formula && (shared.name === null || held.name === shared.name);
    const index = same ? shared.index : await placeFor(shared.index, 'the link');
    if (index === null) return say('The link was not opened: nothing was changed.');
    await replaceWith(() => ask('share', { ...shared, index }));
    await showProgramNames();
    const name = (await ask('program')).name;
    const cut = shared.nameCut ? ` (its name cut to the ${maxName} characters a program's name holds)` : '';
    say(`Opened the shared program "${name}"${cut}. Undo brings back what it replaced.`);
}

// The bank is kept in the browser's storage as the user works, and comes back on the next
// visit; "Revert to presets" brings back the bank a new instance has.
const keptBank = 'bytone-bank';
let presetBank;  // the bank of a new instance, as an .fxb file
let lastKept = '';

function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
}

// The other pages of the site in this browser share the kept bank: each tells the others
// the programs it changed, and takes those they changed, so that no page's keeping of the
// bank undoes another's edit of another program. (The settings stay each page's own.)
const pages = typeof BroadcastChannel === 'function' ? new BroadcastChannel('bytone-bank') : null;
let told = [];  // each program as this page last told or took it

export async function shareWithPages() {
    told = await ask('programs');
    if (pages) pages.onmessage = ({ data }) => takeFromPage(data);
}

async function takeFromPage(data) {
    if (!Array.isArray(data?.programs)) return;
    const taken = [];
    for (const { index, name, formula } of data.programs) {
        if (!Number.isInteger(index) || index < 0 || index >= told.length) continue;
        if (typeof name !== 'string' || typeof formula !== 'string') continue;
        await ask('takeProgram', { index, name: name.slice(0, maxName), formula: formula.slice(0, maxFormula) });
        taken.push(index);
    }
    // What this page changed itself is still to be told.
    const now = await ask('programs');
    for (const index of taken) told[index] = now[index];
    await showProgramNames();
    idle(true);
}

async function tellPages() {
    const now = await ask('programs');
    const changed = now.flatMap((p, index) =>
        p.name !== told[index]?.name || p.formula !== told[index]?.formula ? [{ index, ...p }] : []);
    told = now;
    if (changed.length) pages?.postMessage({ programs: changed });
}

export async function keepBank() {
    if (!bank.changed) return;
    bank.changed = false;
    await tellPages();
    const text = base64(await ask('save', { format: stateFormat.fxb }));
    if (text === lastKept) return;
    try {
        localStorage.setItem(keptBank, text);
        lastKept = text;
    } catch {
        // Storage full or refused: the work stays on the page only.
    }
}

export async function restoreKeptBank() {
    presetBank = await ask('save', { format: stateFormat.fxb });
    const text = localStorage.getItem(keptBank);
    if (!text) return;
    const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
    if ((await ask('load', { bytes }, [bytes.buffer])) === null) lastKept = text;
}

export async function revertToPresets() {
    if (!confirm('Replace every program and setting with the presets? The bank kept in this browser is replaced too.'))
        return;
    const bytes = presetBank.slice();
    await replaceWith(() => ask('load', { bytes }, [bytes.buffer]));
    await showProgramNames();
    await keepBank();
    say('The presets are back. Undo brings back what they replaced.');
}

// The preset browser: each built-in program with the scope's picture of it and a line on
// what it sounds like. Holding one (the pointer, Enter or Space) plays the preset as a new
// instance has it, whatever the bank holds, an A3 until it is let go; its Load button
// puts it into the bank, in its own program (asking first where that holds changes).
// A touch plays after a moment's hold, so that a swipe over the cards scrolls.
export async function buildPresetBrowser() {
    const list = $('presets');
    (await ask('presets')).forEach(({ name, description }, index) => {
        const number = String(index + 1).padStart(3, '0');
        const item = document.createElement('li');
        item.className = 'preset';
        const card = document.createElement('button');
        card.type = 'button';
        card.className = 'play';
        card.setAttribute('aria-label', `${number} ${name}: ${description} Hold to hear it.`);
        const picture = document.createElement('img');
        picture.src = `presets/${number}.png`;
        picture.alt = '';
        picture.loading = 'lazy';
        const title = document.createElement('strong');
        title.textContent = `${number} ${name}`;
        const line = document.createElement('span');
        line.textContent = description;
        card.append(picture, title, line);
        let held = false, waiting = 0;
        const start = () => {
            if (held) return;
            held = true;
            wakeSound();
            play('audition', { index, velocity: Number($('velocity').value), on: true });
        };
        const stop = () => {
            clearTimeout(waiting);
            if (!held) return;
            held = false;
            play('audition', { on: false });
        };
        card.addEventListener('pointerdown', (event) => {
            if (event.pointerType === 'touch') waiting = setTimeout(start, 150);
            else if (event.button === 0) start();
        });
        card.addEventListener('contextmenu', (event) => event.pointerType === 'touch' && event.preventDefault());
        for (const type of ['pointerup', 'pointerleave', 'pointercancel', 'blur']) card.addEventListener(type, stop);
        card.addEventListener('keydown', (event) => {
            if ((event.key === 'Enter' || event.key === ' ') && !event.repeat) {
                event.preventDefault();
                start();
            }
        });
        card.addEventListener('keyup', (event) => (event.key === 'Enter' || event.key === ' ') && stop());
        const load = document.createElement('button');
        load.type = 'button';
        load.className = 'load';
        load.textContent = 'Load into the bank';
        load.setAttribute('aria-label', `Load ${number} ${name} into the bank`);
        load.addEventListener('click', () => loadPreset(index, `preset ${number} ${name}`));
        item.append(card, load);
        list.appendChild(item);
    });
}

// Preset `index` into the bank, in its own program or where the user chooses, selected.
async function loadPreset(index, source) {
    const where = await placeFor(index, source);
    if (where === null) return say(`${source} was not loaded: nothing was changed.`);
    await replaceWith(() => ask('usePreset', { index, into: where }));
    await showProgramNames();
    say(`Loaded ${source} into program ${where + 1}. Undo brings back what it replaced.`);
}
