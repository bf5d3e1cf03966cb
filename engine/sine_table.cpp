#include "sine_table.h"

#include <cmath>

void fillSineTable(uint8_t table[256]) {
    // The angle is a running sum of the step: entries that lie on a rounding boundary
    // differ from those of i * step, and the formulas' S and C read these.
    double angle = 0.0;
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(static_cast<int>(std::sin(angle) * 127.0 + 128.0));
        angle += 0.02454369260617026;
    }
}
