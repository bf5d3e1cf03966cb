#pragma once

// One built-in program. The table ends with an entry whose name does not begin with a
// printable character.
struct Preset {
    const char* name;
    const char* formula;
};

extern const Preset presetTable[];
