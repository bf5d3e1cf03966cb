// The page's own transport: a tempo, Play and Stop, and the song's position in bars and
// beats (4/4). The worklet's instance plays the formulas' beat and bar from it; while it
// stands, beat runs on at its tempo from where it stood, as in a DAW.
import { play, sound } from './instances.js';
import { $ } from './page_dom.js';

const song = { playing: false, quarterNotes: 0, since: 0, tempo: 120 };

function now() {
    return sound.context?.currentTime ?? performance.now() / 1000;
}

// The position in quarter notes.
function position() {
    return song.playing ? song.quarterNotes + ((now() - song.since) * song.tempo) / 60 : song.quarterNotes;
}

// The transport from here on, told to the worklet's instance.
function change(playing, tempo) {
    song.quarterNotes = position();
    song.since = now();
    song.playing = playing;
    song.tempo = tempo;
    play('transport', { playing, quarterNotes: song.quarterNotes, tempo });
    $('play').textContent = playing ? 'Stop' : 'Play';
    $('play').setAttribute('aria-pressed', String(playing));
}

function show() {
    const q = position();
    const text = `${Math.floor(q / 4) + 1}.${Math.floor(q % 4) + 1}`;
    if ($('position').value !== text) $('position').value = text;
}

// The transport as the worklet's instance starts: it plays from the start, stopped.
export function sendTransport() {
    play('transport', { playing: song.playing, quarterNotes: position(), tempo: song.tempo });
}

export function connectTransport() {
    $('play').addEventListener('click', () => change(!song.playing, song.tempo));
    $('tempo').addEventListener('change', () => {
        const tempo = Math.min(400, Math.max(20, Number($('tempo').value) || song.tempo));
        $('tempo').value = String(tempo);
        change(song.playing, tempo);
    });
    show();
    setInterval(show, 50);
}
