#pragma once

// One built-in program. The table ends with an entry whose name does not begin with a
// printable character.
struct Preset {
    const char* name;
    const char* formula;
    const char* description;  // a line on what it sounds like, for galleries and browsers
};

extern const Preset presetTable[];
// The number of built-in programs: the table's entries before its end.
int presetCount();
