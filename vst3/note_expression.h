// VST3's note expression controller, which the C headers we build with do not describe:
// the interface through which a controller tells its host which expressions of a single
// note it reads, so that the host sends them as note expression events.
#pragma once

#include <travesty/base.h>

#include <travesty/align_push.h>

namespace vst3adapter {

// The expressions' type ids, and how a normalised value reads for each.
constexpr uint32_t kTuningExpression = 2;      // 240 × (value − 0.5) semitones
constexpr uint32_t kBrightnessExpression = 5;  // 0..1

struct NoteExpressionValueDescription {
    double defaultValue, minimum, maximum;  // normalised
    int32_t stepCount;
};

struct NoteExpressionTypeInfo {
    uint32_t typeId;
    v3_str_128 title, shortTitle, units;
    int32_t unitId;
    NoteExpressionValueDescription valueDescription;
    v3_param_id associatedParameterId;
    int32_t flags;
};
constexpr int32_t kNoteExpressionIsBipolar = 1 << 0;

struct NoteExpressionController {
    int32_t(V3_API* count)(void* self, int32_t bus, int16_t channel);
    v3_result(V3_API* info)(void* self, int32_t bus, int16_t channel, int32_t index, NoteExpressionTypeInfo* info);
    v3_result(V3_API* text)(void* self, int32_t bus, int16_t channel, uint32_t type, double value, v3_str_128 out);
    v3_result(V3_API* value)(void* self, int32_t bus, int16_t channel, uint32_t type, const int16_t* text,
                             double* value);
};
struct NoteExpressionControllerTable {
    v3_funknown unknown;
    NoteExpressionController controller;
};

static constexpr const v3_tuid kNoteExpressionControllerIid = V3_ID(0xB7F8F859, 0x41234872, 0x91169581, 0x4F3721A3);

}  // namespace vst3adapter

#include <travesty/align_pop.h>
