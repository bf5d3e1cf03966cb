// The extended language's words: variables named by a run of letters, which the classic
// language reads as a syntax error (two operands in a row). A word's value is the
// caller's, as a letter's is; the instrument fills them from the song's position and the
// note's expression.
#pragma once

#include <cstdint>

// Which language a text is read in: the classic one, or the one that adds words and the
// stereo comma.
enum class Language : uint8_t { Classic, Extended };

enum class Word : uint8_t { Beat, Bar, Start, Note, Gate, Pressure, Timbre };
constexpr int kWordCount = 7;
// Each word as the user writes it (read without regard to case), in the order of Word.
inline constexpr const char* kWordNames[kWordCount] = {"beat", "bar", "start", "note", "gate", "pressure", "timbre"};
// Beat's units in one quarter note: at 120 BPM it counts as fast as T at Time 1.00x.
constexpr int64_t kBeatUnits = 32768;
