#include "parameter_edits.h"

namespace clapadapter {

bool ParameterEdits::add(const Edit& edit) {
    const uint32_t added = added_.load(std::memory_order_relaxed);
    if (added - sent_.load(std::memory_order_acquire) >= kCapacity) return false;
    edits_[added % kCapacity] = edit;
    added_.store(added + 1, std::memory_order_release);
    return true;
}

void ParameterEdits::send(const clap_output_events_t* out) {
    if (!out) return;
    const uint32_t added = added_.load(std::memory_order_acquire);
    uint32_t sent = sent_.load(std::memory_order_relaxed);
    for (; sent != added; ++sent) {
        const Edit& edit = edits_[sent % kCapacity];
        bool taken;
        if (edit.kind == Value) {
            clap_event_param_value_t event{};
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            event.param_id = edit.parameter;
            event.note_id = -1, event.port_index = -1, event.channel = -1, event.key = -1;
            event.value = edit.value;
            taken = out->try_push(out, &event.header);
        } else {
            clap_event_param_gesture_t event{};
            const uint16_t type =
                edit.kind == GestureBegin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
            event.param_id = edit.parameter;
            taken = out->try_push(out, &event.header);
        }
        if (!taken) break;
    }
    sent_.store(sent, std::memory_order_release);
}

}  // namespace clapadapter
