// What the oversampling does, measured: the decimator's response, and how much of a
// sawtooth's sound is aliasing: one voice of P&255 at key 100 (2637 Hz)
// played at 48 kHz, its power in 20 Hz to 20 kHz that lies farther than 1 % of the
// fundamental from every harmonic, against its whole power there, in dB. Measured on one
// second after a tenth of one, under a four-term Blackman-Harris window (sidelobes 92 dB
// down), with FFTW.
//
// The physical limit is the same voice computed at 384 kHz and cut at 24 kHz in the
// frequency domain: what no filter after an 8x voice can do better than.
#pragma once

#include <fftw3.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/decimator.h"
#include "engine/instrument.h"

namespace oversampling {

constexpr double kRate = 48000.0;
constexpr int kKey = 100;
inline const double kFundamental = 440.0 * std::pow(2.0, (kKey - 69) / 12.0);

// The voice's output at `rate` with the instrument oversampling `factor` times: `skip`
// samples, then `frames` more, returned.
inline std::vector<double> sawtooth(double rate, int factor, int skip, int frames) {
    auto synth = std::make_unique<engine::Instrument>(Language::Extended);
    synth->setSampleRate(rate);
    synth->setSetting(engine::Setting::Clamp, 0);
    synth->setSetting(engine::Setting::Oversample, factor == 8 ? 3 : factor == 4 ? 2 : factor == 2 ? 1 : 0);
    {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        synth->storeFormula(0, "P&255", 5);
        synth->compileDirtyPrograms();
    }
    synth->queueMidi(0x90, kKey, 100, 0);
    std::vector<float> left(static_cast<size_t>(skip + frames)), right(left.size());
    for (size_t at = 0; at < left.size(); at += 4096) {
        const auto block = static_cast<int32_t>(std::min<size_t>(4096, left.size() - at));
        synth->render(left.data() + at, right.data() + at, block);
    }
    return {left.begin() + skip, left.end()};
}

// The power at each bin of `signal` under the window, bins 1 / (its length / `rate`) Hz apart.
inline std::vector<double> powerSpectrum(std::vector<double> signal) {
    const size_t n = signal.size();
    for (size_t i = 0; i < n; ++i) {
        const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        signal[i] *= 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    }
    std::vector<fftw_complex> spectrum(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), signal.data(), spectrum.data(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<double> power(spectrum.size());
    for (size_t b = 0; b < power.size(); ++b)
        power[b] = spectrum[b][0] * spectrum[b][0] + spectrum[b][1] * spectrum[b][1];
    return power;
}

// The aliased share of the power in 20 Hz to 20 kHz, in dB, of a spectrum whose bins are
// `binHertz` apart.
inline double aliasedShare(const std::vector<double>& power, double binHertz) {
    double aliased = 0.0, whole = 0.0;
    for (size_t b = 0; b < power.size(); ++b) {
        const double f = static_cast<double>(b) * binHertz;
        if (f < 20.0 || f > 20000.0) continue;
        whole += power[b];
        const double nearest = std::max(1.0, std::round(f / kFundamental)) * kFundamental;
        if (std::fabs(f - nearest) > 0.01 * kFundamental) aliased += power[b];
    }
    return 10.0 * std::log10(aliased / whole);
}

// The aliased share of the instrument's output at `factor`.
inline double atFactor(int factor) { return aliasedShare(powerSpectrum(sawtooth(kRate, factor, 4800, 48000)), 1.0); }

// And of the ideal: the voice at 384 kHz with everything above 24 kHz taken away.
inline double ideal() { return aliasedShare(powerSpectrum(sawtooth(8 * kRate, 1, 8 * 4800, 8 * 48000)), 1.0); }

// The decimator's ripple up to 0.42 of the output rate and its least rejection from 0.5
// on, in dB, from impulses through it: the outputs of an impulse at each of a frame's
// sub-samples interleave into the whole cascade's response at the fast rate.
struct Response {
    double ripple, rejection;
};
inline Response decimatorResponse(int factor) {
    constexpr int kFrames = 128;
    std::vector<double> response(static_cast<size_t>(kFrames * factor));
    for (int phase = 0; phase < factor; ++phase) {
        engine::Decimator decimator;
        decimator.setFactor(factor);
        std::vector<float> in(static_cast<size_t>(kFrames * factor)), out(kFrames);
        in[static_cast<size_t>(factor - 1 - phase)] = 1.0f;
        for (int part = 0; part < 4; ++part) {
            decimator.process(in.data(), kFrames / 4, out.data() + part * kFrames / 4);
            std::fill(in.begin(), in.end(), 0.0f);
        }
        for (int j = 0; j < kFrames; ++j) response[static_cast<size_t>(j * factor + phase)] = out[j];
    }
    const auto gainAt = [&](double f) {  // f in output rates, the gain in dB
        double re = 0.0, im = 0.0;
        for (size_t n = 0; n < response.size(); ++n) {
            re += response[n] * std::cos(2.0 * std::numbers::pi * f * static_cast<double>(n) / factor);
            im -= response[n] * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(n) / factor);
        }
        return 10.0 * std::log10(re * re + im * im);
    };
    Response r{0.0, 1000.0};
    for (double f = 0.0; f <= 0.42; f += 0.002) r.ripple = std::max(r.ripple, std::fabs(gainAt(f)));
    for (double f = 0.5; f <= factor / 2.0; f += 0.001) r.rejection = std::min(r.rejection, -gainAt(f));
    return r;
}

}  // namespace oversampling
