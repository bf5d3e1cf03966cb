// A MIDI file of one note for the web tests to render with the tool: key `key` at
// velocity 100 for half a second (480 ticks of 480 a beat at 120 beats a minute).
import fs from 'node:fs';

export function writeNoteFile(file, key) {
    fs.writeFileSync(file, Buffer.from([
        ...Buffer.from('MThd'), 0, 0, 0, 6, 0, 0, 0, 1, 1, 224,  // format 0, one track, 480 a beat
        ...Buffer.from('MTrk'), 0, 0, 0, 13,
        0, 0x90, key, 100,  // at 0: note on
        0x83, 0x60, 0x80, key, 0,  // 480 ticks later: note off
        0, 0xff, 0x2f, 0,  // end of track
    ]));
    return file;
}
