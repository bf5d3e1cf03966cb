// The output's spectrum beside the meter: an AnalyserNode on the instrument's output,
// drawn on a logarithmic axis of frequency from 20 Hz to 20 kHz, 100 dB high.
import { $ } from './page_dom.js';

const lowest = 20, highest = 20000, range = 100;  // Hz, Hz, dB
let analyser = null;
let levels = null;
let drawing = false;

// Listens to `node` of `context` (again after each new context).
export function showSpectrum(context, node) {
    analyser = context.createAnalyser();
    analyser.fftSize = 4096;
    analyser.smoothingTimeConstant = 0.6;
    node.connect(analyser);
    levels = new Float32Array(analyser.frequencyBinCount);
    if (!drawing) requestAnimationFrame(draw);
    drawing = true;
}

function draw() {
    requestAnimationFrame(draw);
    const canvas = $('spectrum');
    const g = canvas.getContext('2d');
    const { width, height } = canvas;
    g.fillStyle = '#000';
    g.fillRect(0, 0, width, height);
    if (!analyser) return;
    analyser.getFloatFrequencyData(levels);
    const binWidth = analyser.context.sampleRate / analyser.fftSize;
    // Each column shows the loudest bin between its frequency and the next column's.
    g.fillStyle = '#7fd0ff';
    for (let x = 0; x < width; ++x) {
        const from = Math.floor((lowest * (highest / lowest) ** (x / width)) / binWidth);
        const to = Math.max(from + 1, Math.floor((lowest * (highest / lowest) ** ((x + 1) / width)) / binWidth));
        let db = -Infinity;
        for (let bin = from; bin < to && bin < levels.length; ++bin) db = Math.max(db, levels[bin]);
        const h = Math.round((Math.min(0, Math.max(-range, db)) / range + 1) * height);
        if (h > 0) g.fillRect(x, height - h, 1, h);
    }
    // The decades: 100 Hz, 1 kHz and 10 kHz.
    g.fillStyle = '#404040';
    for (const f of [100, 1000, 10000]) g.fillRect(Math.round((Math.log(f / lowest) / Math.log(highest / lowest)) * width), 0, 1, height);
}
