// The parameters' values and texts as every format's host meets them, and the state an
// earlier release saved, for the CLAP, VST3 and LV2 host tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ParameterCase {
    uint32_t id;
    int32_t value;
    const char* text;
};

// Values and the texts hosts show them with, beside the parameter's name, both ways.
inline constexpr ParameterCase kParameterTexts[] = {
    {0, 1, "Mono"},  {0, 8, "8"},     {1, 40, "40"},         {2, 50, "1.00x"}, {2, 75, "2.50x"},   {2, 25, "0.62x"},
    {3, 150, "150"}, {3, 130, "130"}, {4, 1, "on"},          {5, 0, "off"},    {6, 7, "1x"},       {7, 60, "C-4"},
    {7, 48, "C-3"},  {7, 0, "---"},   {100, 5, "006 Ringy"}, {8, 1, "on"},     {9, 250, "250 ms"}, {10, 0, "0 ms"},
    {11, 1, "on"},   {12, 0, "1x"},   {12, 3, "8x"},
};

// The editor's texts name their values too.
inline constexpr ParameterCase kEditorTexts[] = {
    {0, 8, "Poly: 8"},         {1, 40, "Porta: 40"},      {2, 75, "Time: 2.50x"}, {3, 150, "Gain: 150"},
    {4, 1, "Lerp: on"},        {5, 0, "Clamp: off"},      {7, 60, "Ch10:  C-4"},  {10, 5000, "Release: 5000 ms"},
    {11, 0, "DC filter: off"}, {12, 2, "Oversample: 4x"},
};

// Texts that name no value of their parameter, and an id that is no parameter.
inline constexpr ParameterCase kRefusedTexts[] = {
    {0, 0, "Poly: 9"},    {0, 0, "many"},        {3, 0, "Gain: 0"}, {3, 0, "loud"},  {4, 0, "maybe"},
    {7, 0, "Ch10:  H-2"}, {7, 0, "Ch10:  B-16"}, {100, 0, "Ringy"}, {100, 0, "200"}, {42, 0, "1"},
    {9, 0, "2001 ms"},    {12, 0, "3x"},         {12, 0, "16x"},    {12, 0, "0x"},
};

// tests/fixtures/state-1.0.0.bin: the state release 1.0.0 saved after its bank had the
// formula "(T>>10)*P&255^R%7" in program 10 and these parameter values were set. Every
// later build must load it so and save it again byte for byte.
inline constexpr ParameterCase kFixtureValues[] = {
    {0, 3, "Poly"}, {2, 70, "Time"}, {3, 150, "Gain"},    {4, 1, "Lerp"},
    {6, 3, "Zoom"}, {7, 40, "Ch10"}, {100, 9, "Program"},
};

inline std::vector<uint8_t> savedStateFixture() {
    std::ifstream file(BYTONE_FIXTURES "/state-1.0.0.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
