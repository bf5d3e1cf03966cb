// The page: the instrument's editor window, its programs and files, notes from the
// computer keyboard, the on-screen keyboard and MIDI devices, recording and shared
// links. Two instances of the instrument: the editor's here (editor_host.js), which
// draws and compiles and works without sound, and the one that plays in the audio
// worklet, which is told by message what the editor changed, so that typing never
// costs the audio thread more than compiling the new formula.
import { EditorHost } from './editor_host.js';
import { editorHeight, editorWidth, pointer, stateFormat } from './instrument.js';
import { maxFormula, maxName, readShareFragment, shareFragment } from './share_link.js';

const $ = (id) => document.getElementById(id);

function say(text, isError = false) {
    $('message').textContent = text;
    $('message').classList.toggle('error', isError);
}

// --- the two instances -------------------------------------------------------------

let host;  // the editor's instance
let node;  // the worklet's, while there is sound
let context;
const waiting = new Map();
let nextId = 1;

// What changes the bank, so that it is kept again.
const editing = new Set(['type', 'pointer', 'paste', 'selectProgram', 'renameProgram', 'load', 'share', 'setSetting']);
let bankChanged = false;

// A request: the editor's go to its instance here, and what they changed goes on to the
// worklet; the rest (MIDI, the level, recording) go to the worklet, and without sound get
// no answer but `silent`.
function ask(what, args = {}, transfer = [], silent = undefined) {
    bankChanged ||= editing.has(what);
    if (what in host) {
        const result = host[what](args);
        afterEdit(what, args, result);
        return Promise.resolve(result);
    }
    if (!node) return Promise.resolve(silent);
    const id = nextId++;
    node.port.postMessage({ id, what, ...args }, transfer);
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}

// A request that wants no answer.
function tell(what, args = {}, transfer = []) {
    if (what in host) return void ask(what, args);
    play(what, args, transfer);
}

// A message to the worklet's instance, while there is sound.
function play(what, args = {}, transfer = []) {
    node?.port.postMessage({ what, ...args }, transfer);
}

function received(message) {
    if (message.recorded) return recorder.keep({ samples: message.recorded, frames: message.frames });
    const pending = waiting.get(message.id);
    if (!pending) return;
    waiting.delete(message.id);
    if ('error' in message) pending.reject(new Error(message.error));
    else pending.resolve(message.result);
}

// What the worklet's instance was last told: the program and the settings.
let told = { program: -1, settings: {} };

function afterEdit(what, args, result) {
    if (!node) return;
    const i = host.instrument;
    if (what === 'type') return play('setFormula', { program: i.program, text: args.text.slice(0, maxFormula) });
    if (what === 'paste')
        return play('setFormula', { program: i.program, text: i.editorText(i.controls.formula).slice(0, maxFormula) });
    if ((what === 'load' && !result) || what === 'share') return sendBank();
    if (['pointer', 'setSetting', 'selectProgram'].includes(what)) sendSettings();
}

// The program first: the drum key is the program's.
function sendSettings() {
    const i = host.instrument;
    if (i.program !== told.program) {
        play('selectProgram', { index: i.program });
        told = { program: i.program, settings: { ...told.settings, drum: undefined } };
    }
    for (const key of Object.keys(i.settings)) {
        const value = i.setting(key);
        if (told.settings[key] === value) continue;
        play('setSetting', { key, value });
        told.settings[key] = value;
    }
}

// The whole bank, as a file with its current program (the Gain, which the bank leaves
// out, follows as a setting).
function sendBank() {
    const bytes = host.save({ format: stateFormat.fxb });
    play('load', { bytes }, [bytes.buffer]);
    told = { program: -1, settings: {} };
    sendSettings();
}

async function loadModule() {
    const response = await fetch('bytone.wasm');
    if (!response.ok) throw new Error(`bytone.wasm: ${response.status} ${response.statusText}`);
    return WebAssembly.compile(await response.arrayBuffer());
}

// Sound at the browser's rate, or at `rate` when the user chose one (the sound of a
// formula depends on it: P and T count samples).
async function startSound(module, rate = undefined) {
    context = new AudioContext({ latencyHint: 'interactive', ...(rate ? { sampleRate: rate } : {}) });
    if (!context.audioWorklet)
        throw new Error('the browser offers audio worklets only to pages at https:// or localhost addresses');
    await context.audioWorklet.addModule('worklet.js');
    node = new AudioWorkletNode(context, 'bytone', {
        numberOfInputs: 0,
        numberOfOutputs: 1,
        outputChannelCount: [2],
        processorOptions: { module },
    });
    node.port.onmessage = (event) => received(event.data);
    node.onprocessorerror = () => say('The instrument stopped with an error; reload the page to start it again.', true);
    node.connect(context.destination);
    context.onstatechange = showSoundState;
    showSoundState();
    const rates = $('rate');
    if (![...rates.options].some((o) => Number(o.value) === context.sampleRate))
        rates.add(new Option(`${context.sampleRate} Hz`, String(context.sampleRate)));
    rates.value = String(context.sampleRate);
}

// Another rate: the worklet's instance is made anew and given the bank; the notes stop.
async function changeRate(module) {
    if (recorder.on) await recorder.stop();
    panic();
    node.disconnect();
    await context.close();
    node = context = undefined;
    const rate = Number($('rate').value);
    try {
        await startSound(module, rate);
        sendBank();
        say(`Sound at ${rate} Hz.`);
    } catch (error) {
        node = context = undefined;
        $('record').disabled = true;
        say(`Sound could not start at ${rate} Hz (${error.message}).`, true);
    }
}

function showSoundState() {
    $('start').hidden = !context || context.state === 'running';
}

// Browsers start sound only after the user does something on the page.
function wakeSound() {
    if (context && context.state !== 'running') context.resume().then(showSoundState);
}

// --- the editor window --------------------------------------------------------------

const texts = {};  // the label and status elements laid over the window
let layout;

// The value labels as sliders and the buttons as buttons for the keyboard and screen
// readers: the arrow keys step a value (Page Up and Down by ten, Home and End to the
// ends), Enter or Space presses a button.
const sliders = { time: 'Time', poly: 'Voices', porta: 'Portamento', gain: 'Gain', drum: 'Channel 10 key' };
const switches = { lerp: 'Interpolation (Lerp)', clamp: 'Clamp' };
const buttons = { copy: 'Copy the formula', paste: 'Paste a formula' };

function buildEditor() {
    const editor = $('editor');
    const place = (element, [left, top, right, bottom]) =>
        Object.assign(element.style, {
            left: `${left}px`,
            top: `${top}px`,
            width: `${right - left}px`,
            height: `${bottom - top}px`,
        });
    for (const name of ['copy', 'paste', 'lerp', 'clamp', 'time', 'poly', 'porta', 'gain', 'drum', 'status', 'help']) {
        const element = document.createElement('div');
        const centered = !['status', 'help'].includes(name);
        element.className = `text ${centered ? 'centered' : name}`;
        element.dataset.control = name;
        place(element, layout[name]);
        editor.appendChild(element);
        texts[name] = element;
        const label = sliders[name] ?? switches[name] ?? buttons[name];
        if (label) {
            element.tabIndex = 0;
            element.setAttribute('role', sliders[name] ? 'slider' : switches[name] ? 'switch' : 'button');
            element.setAttribute('aria-label', label);
            element.addEventListener('keydown', (event) => controlKey(name, event));
        }
    }
    texts.status.setAttribute('role', 'status');
    texts.status.setAttribute('aria-live', 'polite');
    place($('formula'), layout.formula);
}

let ranges;  // each setting's [lowest, highest], as a shared link may give it
let values = {};  // the settings as the editor last showed them

async function controlKey(name, event) {
    if (sliders[name]) {
        const [lowest, highest] = ranges[name];
        const steps = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1, PageUp: 10, PageDown: -10 };
        let value;
        if (event.key in steps) value = values[name] + steps[event.key];
        else if (event.key === 'Home') value = lowest;
        else if (event.key === 'End') value = highest;
        else return;
        event.preventDefault();
        await ask('setSetting', { key: name, value: Math.min(highest, Math.max(lowest, value)) });
        return idle(true);
    }
    if (event.key !== 'Enter' && event.key !== ' ') return;
    event.preventDefault();
    const [left, top, right, bottom] = layout[name];
    const at = { x: Math.floor((left + right) / 2), y: Math.floor((top + bottom) / 2) };
    if (name === 'paste') return paste(at);
    const clipboard = await ask('pointer', { input: pointer.leftDown, ...at });
    if (name === 'copy') copy(clipboard);
    idle(true);
}

// The window keeps its 600 x 330 pixels, scaled down on a narrower screen.
function fitEditor() {
    const editor = $('editor');
    const style = getComputedStyle(editor.parentElement);
    const room = editor.parentElement.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
    const scale = Math.min(1, room / editor.offsetWidth);
    editor.style.transform = scale < 1 ? `scale(${scale})` : '';
    editor.style.marginBottom = `${(scale - 1) * editor.offsetHeight}px`;
}

function showView(view) {
    const image = new ImageData(view.image, editorWidth, editorHeight);
    $('window').getContext('2d').putImageData(image, 0, 0);
    for (const [name, element] of Object.entries(texts)) {
        // A static text shows "&&" as one ampersand.
        const text = view.texts[name] ?? '';
        element.textContent = name === 'help' ? text.replaceAll('&&', '&') : text;
    }
    values = view.values;
    for (const name of Object.keys(sliders)) {
        const element = texts[name];
        element.setAttribute('aria-valuenow', String(values[name]));
        element.setAttribute('aria-valuemin', String(ranges[name][0]));
        element.setAttribute('aria-valuemax', String(ranges[name][1]));
        element.setAttribute('aria-valuetext', view.texts[name]);
    }
    for (const name of Object.keys(switches)) texts[name].setAttribute('aria-checked', String(values[name] === 1));
    // The box takes the instrument's text unless the user typed after what it answers.
    const box = $('formula');
    if (box.value !== view.texts.formula) {
        box.value = view.texts.formula;
        formulas.loaded(box.value);
    }
    $('program').selectedIndex = view.program;
    if (document.activeElement !== $('name')) $('name').value = view.programName;
}

let idling = false;
async function idle(force = false) {
    if (idling && !force) return;
    idling = true;
    try {
        // The view is shown as soon as the editor's instance gives it, before any typing can
        // come in between; the level waits for the worklet.
        const view = await ask('idle', { force });
        if (view) showView(view);
        showLevel(await ask('level', {}, [], 0));
    } finally {
        idling = false;
    }
}

// The output meter: the peak in decibels over 60 dB, falling back slowly; the clip light
// stays on from a sample at full scale or above until it is clicked.
let shownLevel = 0;
function showLevel(peak) {
    const db = peak > 0 ? 20 * Math.log10(peak) : -Infinity;
    shownLevel = Math.max(shownLevel - 1.5, Math.min(1, Math.max(0, (db + 60) / 60)));
    $('level').value = shownLevel;
    if (peak >= 1) $('clip').classList.add('on');
}

function windowPoint(event) {
    const box = $('window').getBoundingClientRect();
    return {
        x: Math.floor(((event.clientX - box.left) * editorWidth) / box.width),
        y: Math.floor(((event.clientY - box.top) * editorHeight) / box.height),
    };
}

function inside([left, top, right, bottom], { x, y }) {
    return x >= left && x < right && y >= top && y < bottom;
}

function connectEditorInput() {
    const canvas = $('window');
    canvas.addEventListener('contextmenu', (event) => event.preventDefault());
    canvas.addEventListener('pointerdown', async (event) => {
        wakeSound();
        const at = windowPoint(event);
        if (event.button === 2) return tell('pointer', { input: pointer.rightDown, ...at });
        if (event.button !== 0) return;
        canvas.setPointerCapture(event.pointerId);
        if (inside(layout.paste, at)) return paste(at);
        const clipboard = await ask('pointer', { input: pointer.leftDown, ...at });
        if (inside(layout.copy, at)) copy(clipboard);
    });
    canvas.addEventListener('pointermove', (event) => {
        if (event.buttons & 1) tell('pointer', { input: pointer.move, ...windowPoint(event) });
    });
    canvas.addEventListener('pointerup', (event) => {
        if (event.button === 0) tell('pointer', { input: pointer.leftUp, ...windowPoint(event) });
    });
    // A touch the browser takes over (a scroll, a gesture) ends the drag as a release would.
    canvas.addEventListener('pointercancel', (event) => tell('pointer', { input: pointer.leftUp, ...windowPoint(event) }));
    // The wheel in whole notches of 120, as Windows reports a mouse's: a browser's 100
    // pixels or 3 lines are one notch, and smaller turns add up.
    let turned = 0;
    canvas.addEventListener(
        'wheel',
        (event) => {
            event.preventDefault();
            turned -= event.deltaY * [1.2, 40, 360][event.deltaMode];
            const delta = Math.trunc(turned / 120) * 120;
            turned -= delta;
            if (delta) tell('pointer', { input: pointer.wheel, ...windowPoint(event), delta });
        },
        { passive: false },
    );

    const box = $('formula');
    box.addEventListener('input', () => {
        // The box holds upper case, as the plug-in's does, and at most maxFormula characters.
        const caret = box.selectionStart;
        let text = box.value.toUpperCase();
        if (text.length > maxFormula) {
            text = text.slice(0, maxFormula);
            sayCut();
        }
        if (text !== box.value) {
            box.value = text;
            box.setSelectionRange(Math.min(caret, text.length), Math.min(caret, text.length));
        }
        formulas.typed(text);
        tell('type', { text });
    });
    // Rewriting the box in upper case loses the browser's own undo: the page keeps its own.
    box.addEventListener('keydown', (event) => {
        if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
        const key = event.key.toLowerCase();
        if (key === 'z' && !event.shiftKey) formulas.step(-1);
        else if (key === 'y' || (key === 'z' && event.shiftKey)) formulas.step(1);
        else return;
        event.preventDefault();
    });
    $('undo').addEventListener('click', () => formulas.step(-1));
    $('redo').addEventListener('click', () => formulas.step(1));
}

// The formulas the box held while the user typed, to step back and forth through: each
// text typed, the oldest dropped after a hundred. Choosing another program starts afresh.
const formulas = {
    texts: [],
    at: -1,
    typed(text) {
        if (this.texts[this.at] === text) return;
        this.texts.splice(this.at + 1, Infinity, text);
        if (this.texts.length > 100) this.texts.shift();
        this.at = this.texts.length - 1;
        this.show();
    },
    // The box's text when the instrument loads it (another program, a file, a link).
    loaded(text) {
        if (this.texts[this.at] === text) return;
        this.texts = [text];
        this.at = 0;
        this.show();
    },
    step(by) {
        const at = this.at + by;
        if (at < 0 || at >= this.texts.length) return;
        this.at = at;
        const box = $('formula');
        box.value = this.texts[at];
        tell('type', { text: box.value });
        this.show();
    },
    show() {
        $('undo').disabled = this.at <= 0;
        $('redo').disabled = this.at >= this.texts.length - 1;
    },
};

function sayCut() {
    say(`A formula holds at most ${maxFormula} characters; the text was cut to fit.`, true);
}

async function copy(text) {
    try {
        await navigator.clipboard.writeText(text);
    } catch {
        say('The browser did not let the page copy; select the formula and copy it from the box.', true);
    }
}

async function paste(at) {
    let text = null;
    try {
        text = await navigator.clipboard.readText();
    } catch {
        say('The browser did not let the page paste; paste into the formula box instead.', true);
    }
    if (text === null) return;
    if (text.length > maxFormula) sayCut();
    // The box turns what it is given into upper case, as an upper-case edit box does.
    await ask('paste', { text: text.slice(0, maxFormula).toUpperCase(), ...at });
}

// --- programs, files and links -------------------------------------------------------

async function showProgramNames() {
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

function connectPrograms() {
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
        const error = await ask('load', { bytes }, [bytes.buffer]);
        if (error) return say(`${file.name}: ${error}. Nothing was changed.`, true);
        await showProgramNames();
        await idle(true);
        say(`Opened ${file.name}.`);
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

async function openSharedLink() {
    const shared = readShareFragment(location.hash, await ask('settings'));
    if (!shared) return;
    if (shared.error) return say(`This link's program could not be read: ${shared.error}. Nothing was changed.`, true);
    await ask('share', shared);
    await showProgramNames();
    await idle(true);
    say(`Opened the shared program "${(await ask('program')).name}".`);
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

async function keepBank() {
    if (!bankChanged) return;
    bankChanged = false;
    const text = base64(await ask('save', { format: stateFormat.fxb }));
    if (text === lastKept) return;
    try {
        localStorage.setItem(keptBank, text);
        lastKept = text;
    } catch {
        // Storage full or refused: the work stays on the page only.
    }
}

async function restoreKeptBank() {
    presetBank = await ask('save', { format: stateFormat.fxb });
    const text = localStorage.getItem(keptBank);
    if (!text) return;
    const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
    if ((await ask('load', { bytes }, [bytes.buffer])) === null) lastKept = text;
}

async function revertToPresets() {
    if (!confirm('Replace every program and setting with the presets? The bank kept in this browser is replaced too.'))
        return;
    const bytes = presetBank.slice();
    await ask('load', { bytes }, [bytes.buffer]);
    await showProgramNames();
    await idle(true);
    await keepBank();
    say('The presets are back.');
}

// The preset browser: each built-in program with the scope's picture of it and a line on
// what it sounds like. Holding one (the pointer, Enter or Space) selects that program of
// the bank and plays an A3 until it is let go.
async function buildPresetBrowser() {
    const list = $('presets');
    (await ask('presets')).forEach(({ name, description }, index) => {
        const number = String(index + 1).padStart(3, '0');
        const card = document.createElement('button');
        card.type = 'button';
        card.className = 'preset';
        card.setAttribute('role', 'listitem');
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
        const start = async () => {
            if (held.has('preset')) return;
            await ask('selectProgram', { index });
            $('program').selectedIndex = index;
            idle(true);
            noteOn(57, 'preset');
        };
        const stop = () => noteOff('preset');
        card.addEventListener('pointerdown', start);
        for (const type of ['pointerup', 'pointerleave', 'pointercancel', 'blur']) card.addEventListener(type, stop);
        card.addEventListener('keydown', (event) => {
            if ((event.key === 'Enter' || event.key === ' ') && !event.repeat) {
                event.preventDefault();
                start();
            }
        });
        card.addEventListener('keyup', (event) => (event.key === 'Enter' || event.key === ' ') && stop());
        list.appendChild(card);
    });
}

// --- notes ---------------------------------------------------------------------------

const held = new Map();  // what holds each sounding key: a keyboard key or a pointer
let octave = 3;

function channel() {
    return Number($('channel').value);
}

function noteOn(key, holder) {
    wakeSound();
    if (key < 0 || key > 127) return;
    held.set(holder, { key, channel: channel() });
    tell('midi', { bytes: [0x90 | channel(), key, Number($('velocity').value)] });
    document.querySelector(`#keyboard [data-key="${key}"]`)?.classList.add('down');
}

function noteOff(holder) {
    const note = held.get(holder);
    if (!note) return;
    held.delete(holder);
    // With Hold on, a note let go goes on sounding until Hold is turned off.
    if (holding) return latched.push(note);
    release(note);
}

function release(note) {
    tell('midi', { bytes: [0x80 | note.channel, note.key, 0] });
    if (![...held.values(), ...latched].some((n) => n.key === note.key))
        document.querySelector(`#keyboard [data-key="${note.key}"]`)?.classList.remove('down');
}

let holding = false;
let latched = [];  // the notes Hold keeps sounding

function setHold(on) {
    holding = on;
    $('hold').setAttribute('aria-pressed', String(on));
    if (on) return;
    const notes = latched;
    latched = [];
    notes.forEach(release);
}

// All notes off on every channel, and every key and Hold let go.
function panic() {
    held.clear();
    latched = [];
    setHold(false);
    for (let c = 0; c < 16; ++c) tell('midi', { bytes: [0xb0 | c, 123, 0] });
    midiHeld.clear();
    for (const key of document.querySelectorAll('#keyboard .key.down')) key.classList.remove('down');
}

// Two octaves on the computer keyboard, by the keys' places (any layout).
const keyCodes = [
    ['KeyZ', 'KeyS', 'KeyX', 'KeyD', 'KeyC', 'KeyV', 'KeyG', 'KeyB', 'KeyH', 'KeyN', 'KeyJ', 'KeyM'],
    ['KeyQ', 'Digit2', 'KeyW', 'Digit3', 'KeyE', 'KeyR', 'Digit5', 'KeyT', 'Digit6', 'KeyY', 'Digit7', 'KeyU'],
];

function keyOfCode(code) {
    for (let row = 0; row < 2; ++row) {
        const step = keyCodes[row].indexOf(code);
        if (step >= 0) return 12 * (octave + 1 + row) + step;
    }
    return -1;
}

function buildKeyboard() {
    const keyboard = $('keyboard');
    const whiteWidth = 100 / 14;  // percent of the keyboard's width
    let whites = 0;
    for (let step = 0; step < 24; ++step) {
        const black = [1, 3, 6, 8, 10].includes(step % 12);
        const key = document.createElement('div');
        key.className = `key ${black ? 'black' : 'white'}`;
        key.dataset.step = String(step);
        const left = black ? whites * whiteWidth - whiteWidth * 0.3 : whites * whiteWidth;
        Object.assign(key.style, { left: `${left}%`, width: `${black ? whiteWidth * 0.6 : whiteWidth}%` });
        const label = document.createElement('span');
        label.textContent = keyCodes[Math.floor(step / 12)][step % 12].replace(/^(Key|Digit)/, '');
        label.setAttribute('aria-hidden', 'true');
        key.appendChild(label);
        key.setAttribute('role', 'button');
        keyboard.appendChild(key);
        if (!black) ++whites;
    }
    numberKeys();
    const keyAt = (event) => document.elementFromPoint(event.clientX, event.clientY)?.closest('#keyboard .key');
    keyboard.addEventListener('pointerdown', (event) => {
        const key = keyAt(event);
        if (!key) return;
        keyboard.setPointerCapture(event.pointerId);
        noteOn(Number(key.dataset.key), `pointer${event.pointerId}`);
    });
    keyboard.addEventListener('pointermove', (event) => {
        const holder = `pointer${event.pointerId}`;
        const note = held.get(holder);
        const key = keyAt(event);
        if (!note || !key || Number(key.dataset.key) === note.key) return;
        noteOff(holder);
        noteOn(Number(key.dataset.key), holder);
    });
    for (const type of ['pointerup', 'pointercancel'])
        keyboard.addEventListener(type, (event) => noteOff(`pointer${event.pointerId}`));
}

const noteNames = ['C', 'C sharp', 'D', 'D sharp', 'E', 'F', 'F sharp', 'G', 'G sharp', 'A', 'A sharp', 'B'];

function numberKeys() {
    for (const key of document.querySelectorAll('#keyboard .key')) {
        const number = 12 * (octave + 1) + Number(key.dataset.step);
        key.dataset.key = String(number);
        key.setAttribute('aria-label', `${noteNames[number % 12]} ${Math.floor(number / 12) - 1}`);
    }
    $('octave').textContent = String(octave);
}

function connectKeys() {
    // Keys play unless they go into a text field; a list or a slider with focus keeps none.
    const typing = (event) => event.target.closest?.('textarea, input[type="text"], input:not([type])');
    window.addEventListener('keydown', (event) => {
        if (event.repeat || event.ctrlKey || event.metaKey || event.altKey || typing(event)) return;
        const key = keyOfCode(event.code);
        if (key < 0 || held.has(event.code)) return;
        event.preventDefault();
        noteOn(key, event.code);
    });
    window.addEventListener('keyup', (event) => noteOff(event.code));
    window.addEventListener('blur', () => [...held.keys()].forEach(noteOff));
    const shift = (by) => {
        octave = Math.min(8, Math.max(0, octave + by));
        numberKeys();
    };
    $('octave-down').addEventListener('click', () => shift(-1));
    $('octave-up').addEventListener('click', () => shift(1));
    $('velocity').addEventListener('input', () => ($('velocity-value').textContent = $('velocity').value));
    $('hold').addEventListener('click', () => setHold(!holding));
    $('panic').addEventListener('click', panic);
    // The mod wheel and the pitch bend of the keyboard's channel; the bend springs back.
    $('mod').addEventListener('input', () => tell('midi', { bytes: [0xb0 | channel(), 1, Number($('mod').value)] }));
    const bend = () => {
        const position = Number($('bend').value) + 8192;
        tell('midi', { bytes: [0xe0 | channel(), position & 0x7f, position >> 7] });
    };
    $('bend').addEventListener('input', bend);
    for (const type of ['pointerup', 'pointercancel', 'keyup', 'blur'])
        $('bend').addEventListener(type, () => {
            if ($('bend').value === '0') return;
            $('bend').value = '0';
            bend();
        });
    const channels = $('channel');
    for (let c = 0; c < 16; ++c) channels.add(new Option(c === 9 ? '10 (drum keys)' : String(c + 1), String(c)));
}

// MIDI devices through Web MIDI, asked for when the user presses the MIDI button (a
// browser asks its user then); a refusal can be asked again. Their channel messages go to
// the instrument as they are, and their notes light the on-screen keys.
const midiHeld = new Set();  // "channel key" of the device notes sounding

function lightKey(key, on) {
    document.querySelector(`#keyboard [data-key="${key}"]`)?.classList.toggle('down', on);
}

function midiMessage(data) {
    if (data.length < 1 || data[0] < 0x80 || data[0] >= 0xf0) return;
    wakeSound();
    const bytes = Array.from(data.subarray(0, 3));
    tell('midi', { bytes });
    const kind = bytes[0] & 0xf0;
    if (kind === 0xc0) {
        // The worklet's instance switches by itself; the editor's follows it.
        host.selectProgram({ index: bytes[1] });
        told.program = host.instrument.program;
        told.settings.drum = undefined;
        bankChanged = true;
    }
    if (kind !== 0x80 && kind !== 0x90) return;
    const held = `${bytes[0] & 0x0f} ${bytes[1]}`;
    if (kind === 0x90 && bytes[2] > 0) midiHeld.add(held);
    else midiHeld.delete(held);
    lightKey(bytes[1], [...midiHeld].some((h) => h.endsWith(` ${bytes[1]}`)));
}

async function connectMidi() {
    const status = $('midi-status');
    const button = $('midi');
    if (!navigator.requestMIDIAccess) {
        status.textContent = 'MIDI: not offered by this browser';
        button.hidden = true;
        return;
    }
    try {
        const access = await navigator.requestMIDIAccess();
        const listen = () => {
            for (const input of access.inputs.values()) input.onmidimessage = ({ data }) => midiMessage(data);
            const count = access.inputs.size;
            status.textContent = `MIDI: ${count} input${count === 1 ? '' : 's'}`;
        };
        access.onstatechange = listen;
        listen();
        button.hidden = true;
    } catch {
        status.textContent = 'MIDI: access refused';
        button.textContent = 'Ask for MIDI again';
    }
}

// --- recording -------------------------------------------------------------------------

const recorder = {
    parts: [],
    on: false,
    // Buffers of about a second and a half: 65536 frames of the left channel, then of the right.
    lend(count) {
        return Array.from({ length: count }, () => new Float32Array(2 * 65536));
    },
    keep(part) {
        this.parts.push(part);
        if (this.on) {
            const [buffer] = this.lend(1);
            tell('lend', { buffer }, [buffer.buffer]);
        }
    },
    async start() {
        wakeSound();
        this.parts = [];
        this.on = true;
        const buffers = this.lend(4);
        await ask('record', { buffers }, buffers.map((b) => b.buffer));
        const started = performance.now();
        const show = () => ($('record').textContent = `Stop recording (${((performance.now() - started) / 1000).toFixed(1)} s)`);
        show();
        this.timer = setInterval(show, 100);
        $('download').hidden = true;
    },
    async stop() {
        this.on = false;
        clearInterval(this.timer);
        const { last, lost } = await ask('stopRecording');
        if (last) this.parts.push(last);
        $('record').textContent = 'Record';
        const frames = this.parts.reduce((n, part) => n + part.frames, 0);
        const left = new Float32Array(frames);
        const right = new Float32Array(frames);
        let at = 0;
        for (const { samples, frames: n } of this.parts) {
            left.set(samples.subarray(0, n), at);
            right.set(samples.subarray(samples.length / 2, samples.length / 2 + n), at);
            at += n;
        }
        const wav = new wavefile.WaveFile();
        wav.fromScratch(2, context.sampleRate, '32f', [left, right]);
        if ($('wav-format').value === '16') wav.toBitDepth('16');
        const link = $('download');
        if (link.href) URL.revokeObjectURL(link.href);
        link.href = URL.createObjectURL(new Blob([wav.toBuffer()], { type: 'audio/wav' }));
        link.hidden = false;
        const seconds = (frames / context.sampleRate).toFixed(1);
        say(`Recorded ${seconds} s${lost ? `; ${lost} frames were lost while the page was busy` : ''}.`, lost > 0);
    },
};

// --- start -------------------------------------------------------------------------------

async function main() {
    let module;
    try {
        module = await loadModule();
    } catch (error) {
        say(`The instrument could not start: ${error.message}`, true);
        return;
    }
    let noSound = null;
    try {
        await startSound(module);
    } catch (error) {
        node = context = undefined;
        noSound = error;
    }
    host = new EditorHost(module, context?.sampleRate ?? 48000);
    layout = await ask('layout');
    ranges = await ask('settings');
    buildEditor();
    fitEditor();
    window.addEventListener('resize', fitEditor);
    $('name').maxLength = maxName;
    buildKeyboard();
    await buildPresetBrowser();
    connectEditorInput();
    connectPrograms();
    connectKeys();
    await restoreKeptBank();
    sendBank();
    await showProgramNames();
    await idle(true);
    await openSharedLink();
    $('rate').addEventListener('change', () => changeRate(module));
    $('rate').disabled = Boolean(noSound);
    if (noSound) {
        $('record').disabled = true;
        say(`Sound could not start (${noSound.message}); the editor, the programs, files and links work without it.`, true);
    }
    setInterval(idle, 30);
    setInterval(keepBank, 1000);
    window.addEventListener('pagehide', keepBank);
    $('revert').addEventListener('click', revertToPresets);
    $('clip').addEventListener('click', () => $('clip').classList.remove('on'));
    $('start').addEventListener('click', wakeSound);
    $('record').addEventListener('click', () => (recorder.on ? recorder.stop() : recorder.start()));
    $('midi').addEventListener('click', connectMidi);
    // A link pasted into the address bar of this page: its program comes as on opening.
    window.addEventListener('hashchange', openSharedLink);
    document.body.dataset.ready = 'true';
}

main();
