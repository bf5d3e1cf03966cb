// The page's two instances of the instrument: the editor's here (editor_host.js), which
// draws and compiles and works without sound, and the one that plays in the audio
// worklet, which is told by message what the editor changed, so that typing never costs
// the audio thread more than compiling the new formula.
import { stateFormat } from './instrument.js';
import { $, say } from './page_dom.js';
import { maxFormula } from './share_link.js';
import { showSpectrum } from './frequency_view.js';

// The editor's instance, and the worklet's with its audio context while there is sound.
export const sound = { host: undefined, node: undefined, context: undefined };
const waiting = new Map();
let nextId = 1;

// What changes the bank, so that it is kept again.
const editing = new Set(['type', 'pointer', 'paste', 'selectProgram', 'renameProgram', 'load', 'share', 'setSetting',
                         'takeProgram', 'usePreset']);
// The bank changed since it was last kept.
export const bank = { changed: false };

// A request: the editor's go to its instance here, and what they changed goes on to the
// worklet; the rest (MIDI, the level, recording) go to the worklet, and without sound get
// no answer but `silent`.
export function ask(what, args = {}, transfer = [], silent = undefined) {
    bank.changed ||= editing.has(what);
    if (what in sound.host) {
        const result = sound.host[what](args);
        afterEdit(what, args, result);
        return Promise.resolve(result);
    }
    if (!sound.node) return Promise.resolve(silent);
    const id = nextId++;
    sound.node.port.postMessage({ id, what, ...args }, transfer);
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}

// A request that wants no answer.
export function tell(what, args = {}, transfer = []) {
    if (what in sound.host) return void ask(what, args);
    play(what, args, transfer);
}

// A message to the worklet's instance, while there is sound.
export function play(what, args = {}, transfer = []) {
    sound.node?.port.postMessage({ what, ...args }, transfer);
}

// What the worklet records goes to `keep`.
let recorded = () => {};
export function onRecorded(keep) {
    recorded = keep;
}

function received(message) {
    if (message.recorded) return recorded({ samples: message.recorded, frames: message.frames });
    const pending = waiting.get(message.id);
    if (!pending) return;
    waiting.delete(message.id);
    if ('error' in message) pending.reject(new Error(message.error));
    else pending.resolve(message.result);
}

// What the worklet's instance was last told: the program and the settings.
let told = { program: -1, settings: {} };

function afterEdit(what, args, result) {
    if (!sound.node) return;
    const i = sound.host.instrument;
    if (what === 'type') return play('setFormula', { program: i.program, text: args.text.slice(0, maxFormula) });
    if (what === 'takeProgram') return play('setFormula', { program: args.index, text: args.formula });
    if (what === 'paste')
        return play('setFormula', { program: i.program, text: i.editorText(i.controls.formula).slice(0, maxFormula) });
    if ((what === 'load' && !result) || what === 'share' || what === 'usePreset') return sendBank();
    if (['pointer', 'setSetting', 'selectProgram'].includes(what)) sendSettings();
}

// The program first: the drum key is the program's.
function sendSettings() {
    const i = sound.host.instrument;
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
export function sendBank() {
    const bytes = sound.host.save({ format: stateFormat.fxb });
    play('load', { bytes }, [bytes.buffer]);
    told = { program: -1, settings: {} };
    sendSettings();
}

export async function loadModule() {
    const response = await fetch('bytone.wasm');
    if (!response.ok) throw new Error(`bytone.wasm: ${response.status} ${response.statusText}`);
    return WebAssembly.compile(await response.arrayBuffer());
}

// Sound at the browser's rate, or at `rate` when the user chose one (the sound of a
// formula depends on it: P and T count samples). Where it cannot start, there is no
// sound and no "Start sound" button, and the error says why.
export async function startSound(module, rate = undefined) {
    try {
        await makeSound(module, rate);
    } catch (error) {
        sound.context?.close().catch(() => {});
        sound.node = sound.context = undefined;
        showSoundState();
        throw error;
    }
}

async function makeSound(module, rate) {
    sound.context = new AudioContext({ latencyHint: 'interactive', ...(rate ? { sampleRate: rate } : {}) });
    if (!sound.context.audioWorklet)
        throw new Error('the browser offers audio worklets only to pages at https:// or localhost addresses');
    await sound.context.audioWorklet.addModule('worklet.js');
    sound.node = new AudioWorkletNode(sound.context, 'bytone', {
        numberOfInputs: 0,
        numberOfOutputs: 1,
        outputChannelCount: [2],
        processorOptions: { module },
    });
    sound.node.port.onmessage = (event) => received(event.data);
    sound.node.onprocessorerror = () => say('The instrument stopped with an error; reload the page to start it again.', true);
    sound.node.connect(sound.context.destination);
    showSpectrum(sound.context, sound.node);
    sound.context.onstatechange = showSoundState;
    showSoundState();
    const rates = $('rate');
    if (![...rates.options].some((o) => Number(o.value) === sound.context.sampleRate))
        rates.add(new Option(`${sound.context.sampleRate} Hz`, String(sound.context.sampleRate)));
    rates.value = String(sound.context.sampleRate);
}

export function showSoundState() {
    $('start').hidden = !sound.context || sound.context.state === 'running';
}

// Browsers start sound only after the user does something on the page.
export function wakeSound() {
    if (sound.context && sound.context.state !== 'running') sound.context.resume().then(showSoundState);
}

// The worklet's instance switched program by a MIDI program change: the editor's follows.
export function followProgramChange(index) {
    sound.host.selectProgram({ index });
    told.program = sound.host.instrument.program;
    told.settings.drum = undefined;
    bank.changed = true;
}

// The sound stops: the worklet's instance goes with its context.
export async function stopSound() {
    sound.node.disconnect();
    await sound.context.close();
    sound.node = sound.context = undefined;
}
