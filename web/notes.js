// Notes: the computer keyboard and the on-screen keyboard (two octaves, Hold, the mod
// wheel and the bend of the keyboard's channel), and MIDI devices through Web MIDI.
import { ask, followProgramChange, tell, wakeSound } from './instances.js';
import { $ } from './page_dom.js';

const held = new Map();  // what holds each sounding key: a keyboard key or a pointer
let octave = 3;

// Whether `holder` (a key's code, a pointer, 'focused key') holds a sounding key.
export function isHeld(holder) {
    return held.has(holder);
}

function channel() {
    return Number($('channel').value);
}

export function noteOn(key, holder) {
    wakeSound();
    if (key < 0 || key > 127) return;
    held.set(holder, { key, channel: channel() });
    tell('midi', { bytes: [0x90 | channel(), key, Number($('velocity').value)] });
    document.querySelector(`#keyboard [data-key="${key}"]`)?.classList.add('down');
}

export function noteOff(holder) {
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
export function panic() {
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

export function buildKeyboard() {
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
        key.tabIndex = step === 0 ? 0 : -1;  // one stop of the Tab key; the arrows move along
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
    // From the keyboard and screen readers: Enter and Space hold the focused key, the
    // arrows move the focus along, and a click that no pointer made (a screen reader's
    // activation) plays a short note.
    const keys = [...keyboard.querySelectorAll('.key')];
    keyboard.addEventListener('keydown', (event) => {
        const key = event.target.closest('#keyboard .key');
        if (!key) return;
        const move = { ArrowLeft: -1, ArrowRight: 1, Home: -keys.length, End: keys.length }[event.key];
        if (move) {
            const next = keys[Math.max(0, Math.min(keys.length - 1, keys.indexOf(key) + move))];
            for (const k of keys) k.tabIndex = k === next ? 0 : -1;
            next.focus();
        } else if (event.key === 'Enter' || event.key === ' ') {
            if (!event.repeat) noteOn(Number(key.dataset.key), 'focused key');
        } else {
            return;
        }
        event.preventDefault();
        event.stopPropagation();
    });
    keyboard.addEventListener('keyup', (event) => {
        if (event.key !== 'Enter' && event.key !== ' ') return;
        noteOff('focused key');
        event.stopPropagation();
    });
    keyboard.addEventListener('focusout', () => noteOff('focused key'));
    keyboard.addEventListener('click', (event) => {
        const key = event.target.closest('#keyboard .key');
        if (!key || event.detail !== 0 || isHeld('focused key')) return;
        noteOn(Number(key.dataset.key), 'clicked key');
        setTimeout(() => noteOff('clicked key'), 400);
    });
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

export function connectKeys() {
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
    // The worklet's instance switches by itself; the editor's follows it.
    if (kind === 0xc0) followProgramChange(bytes[1]);
    if (kind !== 0x80 && kind !== 0x90) return;
    const held = `${bytes[0] & 0x0f} ${bytes[1]}`;
    if (kind === 0x90 && bytes[2] > 0) midiHeld.add(held);
    else midiHeld.delete(held);
    lightKey(bytes[1], [...midiHeld].some((h) => h.endsWith(` ${bytes[1]}`)));
}

export async function connectMidi() {
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
