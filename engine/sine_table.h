// The table behind the formula variables S and C: 256 steps of one period of a sine,
// from 1 to 255 around 128.
#pragma once

#include <cstdint>

// [any thread] Fills `table` with the instrument's sine table.
void fillSineTable(uint8_t table[256]);
