// The editor's window on the page: the picture the editor's instance draws, with its
// texts, sliders, switches and buttons laid over it for the keyboard and screen readers;
// the formula box with the page's own undo; the output meter.
import { pointer, stateFormat } from './instrument.js';
import { ask, tell, wakeSound } from './instances.js';
import { $, say } from './page_dom.js';
import { maxFormula } from './share_link.js';

const texts = {};  // the label and status elements laid over the window
let layout;  // each control's rectangle in the window
let ranges;  // each setting's [lowest, highest], as a shared link may give it
let steps;  // each setting's units per step
let size;  // the window's width and height

// The value labels as sliders and the buttons as buttons for the keyboard and screen
// readers: the arrow keys step a value (Page Up and Down by ten, Home and End to the
// ends), Enter or Space presses a button.
const sliders = {
    time: 'Time',
    poly: 'Voices',
    porta: 'Portamento',
    gain: 'Gain',
    drum: 'Channel 10 key',
    attack: 'Attack',
    release: 'Release',
    oversample: 'Oversampling',
};
const switches = { lerp: 'Interpolation (Lerp)', clamp: 'Clamp', dc: 'DC filter', mpe: 'MPE' };
const buttons = {
    copy: 'Copy the formula',
    paste: 'Paste a formula',
    scope: 'Scope: the formula\'s wave. Enter zooms in, Shift+Enter out',
};

// On a narrow screen the page lays out the window's controls itself, at their natural
// size in the window's colours (page.css), and they answer touch: a drag or a tap sets a
// value, a long press resets it as a right click does.
const phone = matchMedia('(max-width: 699px)');

// The window's texts and controls laid over its picture, as `rectangles` place them.
export function buildEditor(rectangles, settingRanges, settingSteps, windowSize, colors) {
    layout = rectangles;
    ranges = settingRanges;
    steps = settingSteps;
    size = windowSize;
    const editor = $('editor');
    for (const [name, color] of Object.entries(colors)) editor.style.setProperty(`--${name}`, color);
    Object.assign($('window'), size);
    editor.style.height = `${size.height}px`;
    const place = (element, [left, top, right, bottom]) =>
        Object.assign(element.style, {
            left: `${left}px`,
            top: `${top}px`,
            width: `${right - left}px`,
            height: `${bottom - top}px`,
        });
    const names = ['copy', 'paste', 'lerp', 'clamp', 'time', 'poly', 'porta', 'gain', 'drum', 'status', 'help', 'scope'];
    for (const name of [...names, 'attack', 'release', 'oversample', 'dc', 'mpe']) {
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
            connectTouch(name, element);
        }
    }
    // The scope's own canvas, which shows the window's scope where the page lays it out.
    const scope = document.createElement('canvas');
    scope.id = 'scope-view';
    Object.assign(scope, { width: layout.scope[2] - layout.scope[0], height: layout.scope[3] - layout.scope[1] });
    texts.scope.appendChild(scope);
    texts.status.setAttribute('role', 'status');
    texts.status.setAttribute('aria-live', 'polite');
    texts.status.id = 'formula-status';
    place($('formula'), layout.formula);
    place($('formula-mark'), layout.formula);
}

let values = {};  // the settings as the editor last showed them

// A control's own input on a narrow screen: a slider follows a drag or a tap along it, a
// button or a switch takes a tap; holding still for 600 ms resets (the scope: zooms out).
function connectTouch(name, element) {
    let down = null;  // the press: where it began, whether it moved, its long-press timer
    const center = () => {
        const [left, top, right, bottom] = layout[name];
        return { x: Math.floor((left + right) / 2), y: Math.floor((top + bottom) / 2) };
    };
    const valueAt = (event) => {
        const box = element.getBoundingClientRect();
        const [lowest, highest] = ranges[name];
        const fraction = Math.min(1, Math.max(0, (event.clientX - box.left) / box.width));
        return lowest + Math.round((fraction * (highest - lowest)) / steps[name]) * steps[name];
    };
    const setFrom = async (event) => {
        await ask('setSetting', { key: name, value: Math.min(ranges[name][1], valueAt(event)) });
        idle(true);
    };
    element.addEventListener('pointerdown', (event) => {
        if (!phone.matches || event.button !== 0) return;
        wakeSound();
        element.setPointerCapture(event.pointerId);
        const timer = setTimeout(() => {
            down = null;
            tell('pointer', { input: pointer.rightDown, ...center() });
            idle(true);
        }, 600);
        down = { x: event.clientX, y: event.clientY, moved: false, timer };
    });
    element.addEventListener('pointermove', (event) => {
        if (!down || !sliders[name]) return;
        if (!down.moved && Math.hypot(event.clientX - down.x, event.clientY - down.y) < 8) return;
        clearTimeout(down.timer);
        down.moved = true;
        setFrom(event);
    });
    element.addEventListener('pointerup', (event) => {
        if (!down) return;
        clearTimeout(down.timer);
        const tapped = !down.moved;
        down = null;
        if (sliders[name]) setFrom(event);
        else if (tapped) press(name, false);
    });
    element.addEventListener('pointercancel', () => {
        if (down) clearTimeout(down.timer);
        down = null;
    });
    element.addEventListener('contextmenu', (event) => phone.matches && event.preventDefault());
}

async function controlKey(name, event) {
    if (sliders[name]) {
        const [lowest, highest] = ranges[name];
        const keys = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1, PageUp: 10, PageDown: -10 };
        let value;
        if (event.key in keys) value = values[name] + keys[event.key] * steps[name];
        else if (event.key === 'Home') value = lowest;
        else if (event.key === 'End') value = highest;
        else return;
        event.preventDefault();
        await ask('setSetting', { key: name, value: Math.min(highest, Math.max(lowest, value)) });
        return idle(true);
    }
    if (event.key !== 'Enter' && event.key !== ' ') return;
    event.preventDefault();
    return press(name, event.shiftKey);
}

// A button, a switch or the scope pressed as a click at its middle would; the scope with
// `shift` zooms out, as a right click does.
async function press(name, shift) {
    const [left, top, right, bottom] = layout[name];
    const at = { x: Math.floor((left + right) / 2), y: Math.floor((top + bottom) / 2) };
    if (name === 'paste') return paste(at);
    if (name === 'scope' && shift) {
        tell('pointer', { input: pointer.rightDown, ...at });
        return idle(true);
    }
    const clipboard = await ask('pointer', { input: pointer.leftDown, ...at });
    if (name === 'copy') copy(clipboard);
    idle(true);
}

// The window keeps its pixels, scaled down on a narrower screen; on a phone's the page
// lays its controls out instead.
export function fitEditor() {
    const editor = $('editor');
    if (phone.matches) {
        editor.style.transform = editor.style.marginBottom = '';
        return;
    }
    const style = getComputedStyle(editor.parentElement);
    const room = editor.parentElement.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
    const scale = Math.min(1, room / editor.offsetWidth);
    editor.style.transform = scale < 1 ? `scale(${scale})` : '';
    editor.style.marginBottom = `${(scale - 1) * editor.offsetHeight}px`;
}

function showView(view) {
    const image = new ImageData(view.image, size.width, size.height);
    $('window').getContext('2d').putImageData(image, 0, 0);
    for (const [name, element] of Object.entries(texts)) {
        if (name === 'scope') continue;  // no text: it holds the scope's own canvas
        // A static text shows "&&" as one ampersand.
        const text = view.texts[name] ?? '';
        element.textContent = name === 'help' ? text.replaceAll('&&', '&') : text;
    }
    // A formula that does not compile: the status says where, counting characters from
    // 1, and the box marks that character (past the end: the place after the last).
    const formula = view.texts.formula ?? '';
    if (view.stop >= 0) texts.status.textContent += ` at ${Array.from(formula.slice(0, view.stop)).length + 1}`;
    markFault(formula, view.stop);
    values = view.values;
    for (const name of Object.keys(sliders)) {
        const element = texts[name];
        const [lowest, highest] = ranges[name];
        element.style.setProperty('--fill', String((values[name] - lowest) / Math.max(1, highest - lowest)));
        element.setAttribute('aria-valuenow', String(values[name]));
        element.setAttribute('aria-valuemin', String(ranges[name][0]));
        element.setAttribute('aria-valuemax', String(ranges[name][1]));
        element.setAttribute('aria-valuetext', view.texts[name]);
    }
    for (const name of Object.keys(switches)) texts[name].setAttribute('aria-checked', String(values[name] === 1));
    texts.scope.dataset.zoom = String(values.zoom);
    if (phone.matches) {
        const [left, top, right, bottom] = layout.scope;
        $('scope-view').getContext('2d').drawImage($('window'), left, top, right - left, bottom - top, 0, 0, right - left, bottom - top);
    }
    // The box takes the instrument's text unless the user typed after what it answers.
    const box = $('formula');
    if (box.value !== view.texts.formula) {
        box.value = view.texts.formula;
        if (formulas.pasting) formulas.typed(box.value);
        else if (!formulas.replacing) formulas.loaded(box.value);
    }
    $('program').selectedIndex = view.program;
    if (document.activeElement !== $('name')) $('name').value = view.programName;
}

// The mark behind the box: the box's text, unseen, with the faulty character marked.
function markFault(formula, stop) {
    const mark = $('formula-mark');
    mark.replaceChildren();
    if (stop < 0) return;
    const at = Array.from(formula.slice(stop))[0] ?? ' ';
    const marked = document.createElement('mark');
    marked.textContent = at;
    mark.append(formula.slice(0, stop), marked, formula.slice(stop + at.length));
    mark.scrollTop = $('formula').scrollTop;
}

let idling = false;
export async function idle(force = false) {
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
        x: Math.floor(((event.clientX - box.left) * size.width) / box.width),
        y: Math.floor(((event.clientY - box.top) * size.height) / box.height),
    };
}

function inside([left, top, right, bottom], { x, y }) {
    return x >= left && x < right && y >= top && y < bottom;
}

export function connectEditorInput() {
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
    box.addEventListener('scroll', () => ($('formula-mark').scrollTop = box.scrollTop));
    let before = { start: 0, end: 0 };  // the selection an input replaces
    box.addEventListener('beforeinput', () => (before = { start: box.selectionStart, end: box.selectionEnd }));
    box.addEventListener('input', (event) => {
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
        formulas.typed(text, editOf(event, before, box.selectionStart));
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

// What an input in the box was, for the undo steps: typing of one character (a letter,
// a digit, a space or another character) or deleting one, where the caret stood; null
// for every other edit (a paste, a cut, a drop, a replaced selection), a step of its own.
function editOf(event, before, caret) {
    const single = event.inputType === 'insertText' && [...(event.data ?? '')].length === 1;
    const deleting = event.inputType === 'deleteContentBackward' || event.inputType === 'deleteContentForward';
    if (before.start !== before.end || !(single || deleting)) return null;
    const c = event.data ?? '';
    const kind = deleting ? 'delete' : /[A-Z]/i.test(c) ? 'letter' : /[0-9]/.test(c) ? 'digit' : /\s/.test(c) ? 'space' : 'other';
    return { kind, from: before.start, to: caret, time: performance.now() };
}

// The formulas the box held while the user typed, to step back and forth through, the
// oldest dropped after a hundred. Typing makes a step a word, as text editors do: a run of
// letters, of digits or of other characters, with the spaces after it, or a run of
// deletions, while the caret moves on with it and no second passes between keys; every
// other edit is a step. A link or a file that replaced the program or the bank is a step
// too: the steps on either side of it hold the whole bank, which stepping to them loads.
// Choosing another program starts afresh.
const formulas = {
    steps: [],  // each {text, bank}: the box's text, and where it has one, the bank's file
    at: -1,
    last: null,  // the edit that made the newest step, while typing may add to it
    pasting: false,  // the editor's Paste button is pasting
    replacing: false,  // a link or a file is replacing the program or the bank
    typed(text, edit = null) {
        if (this.steps[this.at]?.text === text) return;
        const last = this.last;
        const joins =
            edit && last && this.at === this.steps.length - 1 && this.at > 0 && !this.steps[this.at].bank &&
            edit.from === last.to && edit.time - last.time < 1000 &&
            (edit.kind === last.kind || (edit.kind === 'space' && last.kind !== 'delete'));
        this.last = edit;  // after a space, only spaces join: the next word is a step
        if (joins) this.steps[this.at].text = text;
        else this.push({ text });
    },
    push(step) {
        this.steps.splice(this.at + 1, Infinity, step);
        if (this.steps.length > 100) this.steps.shift();
        this.at = this.steps.length - 1;
        this.show();
    },
    // The box's text when the instrument loads it (another program).
    loaded(text) {
        if (this.steps[this.at]?.text === text) return;
        this.steps = [{ text }];
        this.at = 0;
        this.last = null;
        this.show();
    },
    // The bank before and after a link or a file replaced what it replaced, and the box's
    // text after.
    replaced(before, after, text) {
        if (this.at < 0) this.loaded('');
        this.steps[this.at].bank = before;
        this.last = null;
        this.push({ text, bank: after });
    },
    async step(by) {
        const at = this.at + by;
        if (at < 0 || at >= this.steps.length) return;
        this.at = at;
        this.last = null;
        const { text, bank } = this.steps[at];
        $('formula').value = text;
        this.show();
        if (!bank) return tell('type', { text });
        const bytes = bank.slice();
        await ask('load', { bytes }, [bytes.buffer]);
        bankReplaced();
        idle(true);
    },
    show() {
        $('undo').disabled = this.at <= 0;
        $('redo').disabled = this.at >= this.steps.length - 1;
    },
};

// Told when a step of the undo loaded a bank: the program names may have changed.
let bankReplaced = () => {};
export function onBankReplaced(callback) {
    bankReplaced = callback;
}

// Replaces the program or the bank by `act` (which resolves with null, or why it could
// not), as one step of the undo away.
export async function replaceWith(act) {
    const before = await ask('save', { format: stateFormat.fxb });
    const error = await act();
    if (error) return error;
    const after = await ask('save', { format: stateFormat.fxb });
    formulas.replacing = true;
    try {
        await idle(true);
    } finally {
        formulas.replacing = false;
    }
    formulas.replaced(before, after, $('formula').value);
    return null;
}

export function sayCut() {
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
    // What it pasted is a step of the undo, not a text loaded afresh.
    formulas.pasting = true;
    try {
        await idle(true);
    } finally {
        formulas.pasting = false;
    }
}
