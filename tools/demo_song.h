// The embedded demo: about twenty seconds that walk through a handful of presets, a
// mono legato glide, a pitch bend, the mod wheel and a channel-10 drum kit of formulas.
#pragma once

#include "bank.h"
#include "renderer.h"

// The demo as a render plan at `rate`, starting from the plug-in's own bank.
RenderPlan demoPlan(const Bank& start, int64_t rate);
