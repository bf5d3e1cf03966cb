#include "formula_picture.h"

#include <mutex>

#include "command.h"
#include "file_names.h"
#include "output_file.h"

std::unique_ptr<engine::Instrument> instrumentPlaying(const std::string& formula) {
    if (formula.size() > 1023)
        throw UsageError("the formula has " + std::to_string(formula.size()) + " characters; a program holds 1023");
    auto instrument = std::make_unique<engine::Instrument>();
    std::lock_guard<std::mutex> hold(instrument->bankLock());
    instrument->storeFormula(0, formula.data(), formula.size());
    if (const char* message = instrument->compileDirtyPrograms())
        throw UsageError(formulaFault(message, formula, instrument->stopOf(formula.c_str())));
    return instrument;
}

void checkPictureOutput(const std::string& path) {
    if (lowerExtension(path) != "png" && !isStream(path))
        throw UsageError(path + ": the picture is a PNG; name a .png file");
    checkOutputs({path}, {});
}
