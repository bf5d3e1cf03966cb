// The user's edits of parameters in the editor on their way to the host, which records
// them as automation: the main thread adds them, and the next `process` or `flush`
// hands them over as gesture and value events, in the order they were made.
#pragma once

#include <clap/events.h>

#include <atomic>
#include <cstdint>

namespace clapadapter {

class ParameterEdits {
public:
    enum Kind : uint8_t { GestureBegin, Value, GestureEnd };
    struct Edit {
        Kind kind;
        clap_id parameter;
        double value;
    };
    // [main thread] False when the queue is full: the edit is dropped (the host still
    // reads the new value through the parameter's value).
    bool add(const Edit& edit);
    // [audio thread in process, or whichever thread calls flush] Hands the waiting edits
    // to the host as events at frame 0, up to the first it does not take.
    void send(const clap_output_events_t* out);

private:
    static constexpr uint32_t kCapacity = 1024;
    Edit edits_[kCapacity]{};
    std::atomic<uint32_t> added_{0};  // counts, each written by one side only
    std::atomic<uint32_t> sent_{0};
};

}  // namespace clapadapter
