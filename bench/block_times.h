// Block times of the audio thread alone and beside the compiling side at work.
#pragma once

// Prints the median, 99th percentile and longest time of 256-frame blocks with eight
// voices, alone and beside a thread restoring banks of long formulas and an editor
// refreshing in a loop, with the ratio of the two 99th percentiles.
void reportBlockTimes();
