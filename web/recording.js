// Recording: what the worklet plays, into a WAV file to download.
import { ask, sound, tell, wakeSound } from './instances.js';
import { $, say } from './page_dom.js';

export const recorder = {
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
        wav.fromScratch(2, sound.context.sampleRate, '32f', [left, right]);
        if ($('wav-format').value === '16') {
            wav.toBitDepth('16');
        } else {
            // Float samples need the format's extension (empty) and their count in a fact chunk.
            Object.assign(wav.fmt, { chunkSize: 18, cbSize: 0 });
            Object.assign(wav.fact, { chunkId: 'fact', chunkSize: 4, dwSampleLength: frames });
        }
        const link = $('download');
        if (link.href) URL.revokeObjectURL(link.href);
        link.href = URL.createObjectURL(new Blob([wav.toBuffer()], { type: 'audio/wav' }));
        link.hidden = false;
        const seconds = (frames / sound.context.sampleRate).toFixed(1);
        say(`Recorded ${seconds} s${lost ? `; ${lost} frames were lost while the page was busy` : ''}.`, lost > 0);
    },
};
