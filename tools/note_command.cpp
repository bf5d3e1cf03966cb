// bytone note: a note of a formula over time, as the instrument plays it, in a PNG.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "command.h"
#include "editor/pixel_canvas.h"
#include "formula_picture.h"
#include "png_file.h"

namespace {

struct NoteOptions {
    std::string formula;
    std::string output;
    double seconds = 2.0;
    int key = 57;
    int width = 580;
    int height = 96;
};

// One voice, velocity 100, at `rate`, the settings of a new instance.
std::vector<float> playedNote(const NoteOptions& options, int rate) {
    auto instrument = instrumentPlaying(options.formula);
    instrument->setSampleRate(rate);
    instrument->queueMidi(0x90, options.key, 100, 0);
    const auto frames = static_cast<int64_t>(std::llround(options.seconds * rate));
    std::vector<float> samples(static_cast<size_t>(frames)), right(512);
    for (int64_t at = 0; at < frames; at += 512) {
        const auto block = static_cast<int32_t>(std::min<int64_t>(512, frames - at));
        instrument->render(samples.data() + at, right.data(), block);
    }
    return samples;
}

// Each column the lowest and highest sample of its stretch of time, on a scale of one
// voice's range, -0.25 to 0.25. The picture shows what the scope cannot: how the sound
// changes in time.
int drawNotePicture(const NoteOptions& options, const ToolOptions& tool) {
    if (!std::isfinite(options.seconds)) throw UsageError("--seconds wants a finite number");
    checkPictureOutput(options.output);
    const std::vector<float> samples = playedNote(options, 48000);
    const auto frames = static_cast<int64_t>(samples.size());
    const uint32_t paper = editor::defaultColor(editor::SysColor::ButtonFace);
    const uint32_t ink = editor::defaultColor(editor::SysColor::WindowText);
    std::vector<uint32_t> pixels(static_cast<size_t>(options.width) * options.height, paper);
    auto rowOf = [&](float v) {
        const double y = (0.25 - std::clamp(static_cast<double>(v), -0.25, 0.25)) / 0.5 * (options.height - 1);
        return static_cast<int>(std::lround(y));
    };
    for (int x = 0; x < options.width; ++x) {
        const int64_t first = frames * x / options.width, last = std::max(first + 1, frames * (x + 1) / options.width);
        float low = samples[static_cast<size_t>(first)], high = low;
        for (int64_t k = first; k < last && k < frames; ++k)
            low = std::min(low, samples[static_cast<size_t>(k)]),
            high = std::max(high, samples[static_cast<size_t>(k)]);
        for (int y = rowOf(high); y <= rowOf(low); ++y) pixels[static_cast<size_t>(y) * options.width + x] = ink;
    }
    writePng(options.output, options.width, options.height, pixels);
    inform(tool, options.output, "wrote %s: %dx%d, %.2f seconds of key %d\n", shownPath(options.output).c_str(),
           options.width, options.height, options.seconds, options.key);
    return 0;
}

}  // namespace

Command addNoteCommand(CLI::App& app, const ToolOptions& tool) {
    auto options = std::make_shared<NoteOptions>();
    CLI::App* note = app.add_subcommand("note", "draw a note of a formula over time into a PNG");
    note->add_option("formula", options->formula, "the formula")->required();
    note->add_option("-o,--output", options->output, "PNG file to write")->required();
    note->add_option("--seconds", options->seconds, "how long the note lasts")
        ->capture_default_str()
        ->check(CLI::Range(0.01, 60.0));
    note->add_option("--key", options->key, "MIDI key of the note")->capture_default_str()->check(wholeNumber(0, 127));
    return {note, [options, &tool] { return drawNotePicture(*options, tool); }};
}
