// bytone scope: the editor's oscilloscope of a formula, as the editor draws it, in a PNG.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "command.h"
#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "formula_picture.h"
#include "png_file.h"

namespace {

struct ScopeOptions {
    std::string formula;
    std::string output;
    int zoom = 0;
    std::string clamp = "on";
    int scale = 1;
};

// Each pixel as a square of `scale` x `scale`, so that small pictures and their labels read.
std::vector<uint32_t> scaledUp(const std::vector<uint32_t>& pixels, int width, int height, int scale) {
    std::vector<uint32_t> out(static_cast<size_t>(width) * height * scale * scale);
    for (int y = 0; y < height * scale; ++y)
        for (int x = 0; x < width * scale; ++x)
            out[static_cast<size_t>(y) * width * scale + x] =
                pixels[static_cast<size_t>(y / scale) * width + x / scale];
    return out;
}

int drawScopePicture(const ScopeOptions& options, const ToolOptions& tool) {
    checkPictureOutput(options.output);
    auto instrument = instrumentPlaying(options.formula);
    instrument->setSetting(engine::Setting::ScopeZoom, options.zoom);
    instrument->setSetting(engine::Setting::Clamp, options.clamp == "on");
    auto owned = std::make_unique<editor::HeadlessPlatform>();
    editor::HeadlessPlatform& platform = *owned;
    editor::GUI gui(*instrument, std::move(owned));
    gui.open(nullptr);
    gui.tick();
    const std::string& status = platform.texts[editor::StatusLabel];
    if (status != "OK") throw UsageError(status + " in '" + options.formula + "'");
    const int width = platform.scope.width * options.scale, height = platform.scope.height * options.scale;
    writePng(options.output, width, height,
             scaledUp(platform.scope.pixels, platform.scope.width, platform.scope.height, options.scale));
    inform(tool, options.output, "wrote %s: %dx%d, zoom %s\n", shownPath(options.output).c_str(), width, height,
           engine::settingText(engine::Setting::ScopeZoom, options.zoom).c_str());
    return 0;
}

}  // namespace

Command addScopeCommand(CLI::App& app, const ToolOptions& tool) {
    auto options = std::make_shared<ScopeOptions>();
    CLI::App* scope = app.add_subcommand("scope", "draw the editor's oscilloscope of a formula into a PNG");
    scope->add_option("formula", options->formula, "the formula")->required();
    scope->add_option("-o,--output", options->output, "PNG file to write")->required();
    scope->add_option("--zoom", options->zoom, "zoom step: 0 (8x) to 7 (1x)")
        ->capture_default_str()
        ->check(wholeNumber(0, 7));
    scope->add_option("--clamp", options->clamp, "clamp the heights (on) or wrap them (off)")
        ->capture_default_str()
        ->check(CLI::IsMember({"on", "off"}));
    scope->add_option("--scale", options->scale, "draw each pixel as a square of this size")
        ->capture_default_str()
        ->check(wholeNumber(1, 4));
    return {scope, [options, &tool] { return drawScopePicture(*options, tool); }};
}
