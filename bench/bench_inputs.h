// Realistic inputs for a formula: key 69 at 44.1 kHz, so P advances about 2.55 and T
// about 1.49 a call, with velocity, wheel, random and sine readings as the voices fill them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/instrument.h"

struct FormulaInputs {
    static constexpr int kLength = 4096;
    std::vector<int64_t> p, t, r, s, c;

    explicit FormulaInputs(const uint8_t* sineTable) {
        uint32_t state = 1;
        for (int k = 1; k <= kLength; ++k) {
            const auto phase = static_cast<int64_t>(k * (440.0 * 256.0 / 44100.0));
            p.push_back(phase);
            t.push_back(static_cast<int64_t>(k * (65536.0 / 44100.0)));
            state = state * 214013u + 2531011u;
            r.push_back((state >> 16) & 0x7FFF);
            s.push_back(sineReading(sineTable, phase, 0));
            c.push_back(sineReading(sineTable, phase, 64));
        }
    }

    // Writes call k's values into a variable array (A..Z).
    void fill(int64_t* variables, int k) const {
        variables['P' - 'A'] = p[k];
        variables['T' - 'A'] = t[k];
        variables['V' - 'A'] = 100;
        variables['M' - 'A'] = 0;
        variables['R' - 'A'] = r[k];
        variables['S' - 'A'] = s[k];
        variables['C' - 'A'] = c[k];
    }
};
