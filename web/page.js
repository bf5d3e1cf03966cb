// The page: the instrument's editor window, its programs and files, notes from the
// computer keyboard, the on-screen keyboard and MIDI devices, recording and shared
// links, each a module of its own; this one starts them.
import { EditorHost } from './editor_host.js';
import { buildEditor, connectEditorInput, fitEditor, idle, onBankReplaced } from './editor_window.js';
import { ask, loadModule, onRecorded, sendBank, sound, startSound, stopSound, wakeSound } from './instances.js';
import { buildKeyboard, connectKeys, connectMidi, panic } from './notes.js';
import { $, say } from './page_dom.js';
import {
    buildPresetBrowser,
    connectPrograms,
    keepBank,
    openSharedLink,
    restoreKeptBank,
    revertToPresets,
    shareWithPages,
    showProgramNames,
} from './programs.js';
import { recorder } from './recording.js';
import { maxName } from './share_link.js';
import { connectTransport, sendTransport } from './transport.js';

// Another rate: the worklet's instance is made anew and given the bank; the notes stop.
async function changeRate(module) {
    if (recorder.on) await recorder.stop();
    panic();
    await stopSound();
    const rate = Number($('rate').value);
    try {
        await startSound(module, rate);
        sendBank();
        say(`Sound at ${rate} Hz.`);
    } catch (error) {
        $('record').disabled = true;
        say(`Sound could not start at ${rate} Hz (${error.message}).`, true);
    }
}

async function main() {
    fitEditor();  // the window's size on a narrow screen before anything else is drawn
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
        noSound = error;
    }
    sound.host = new EditorHost(module, sound.context?.sampleRate ?? 48000);
    onRecorded((part) => recorder.keep(part));
    buildEditor(await ask('layout'), await ask('settings'), await ask('steps'), await ask('size'), await ask('colors'));
    fitEditor();
    window.addEventListener('resize', () => {
        fitEditor();
        idle(true);
    });
    $('name').maxLength = maxName;
    buildKeyboard();
    await buildPresetBrowser();
    connectEditorInput();
    connectPrograms();
    onBankReplaced(showProgramNames);
    connectKeys();
    connectTransport();
    await restoreKeptBank();
    await shareWithPages();
    sendBank();
    sendTransport();
    await showProgramNames();
    await idle(true);
    $('rate').addEventListener('change', () => changeRate(module));
    $('rate').disabled = Boolean(noSound);
    if (noSound) $('record').disabled = true;
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
    // Ready: the controls answer, and the site is kept for visits without the network.
    for (const part of document.querySelectorAll('[inert]')) part.inert = false;
    if ($('message').textContent === 'Loading the instrument…') say('');
    document.body.dataset.ready = 'true';
    navigator.serviceWorker?.register('service_worker.js').catch(() => {});
    // The page's own link last: it may ask the user first.
    await openSharedLink();
    if (noSound)
        say(`Sound could not start (${noSound.message}); the editor, the programs, files and links work without it.`, true);
}

main();
