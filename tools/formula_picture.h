// What the picture subcommands (scope, note) share: the instrument playing one formula,
// without a plug-in around it, and the picture's output.
#pragma once

#include <memory>
#include <string>

#include "engine/instrument.h"

// An instrument whose program 0 plays `formula`; throws UsageError with the compiler's
// message.
std::unique_ptr<engine::Instrument> instrumentPlaying(const std::string& formula);
// A picture's output: a .png name, or a stream, that can be written; throws otherwise.
void checkPictureOutput(const std::string& path);
