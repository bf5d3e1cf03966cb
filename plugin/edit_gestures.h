// The editor's edits of settings as a host records automation: a drag of a value label
// is one gesture around its edits, and an edit outside a drag (a click, the wheel, a
// reset) is a gesture of its own. The format says how each step reaches its host.
// [ui thread] All calls.
#pragma once

#include "../editor/editor_view.h"
#include "parameters.h"

namespace plugin {

class EditGestures final : public editor::SettingListener {
public:
    class Host {
    public:
        virtual void beginEdit(ParameterId id) = 0;
        virtual void performEdit(ParameterId id, int32_t value) = 0;
        virtual void endEdit(ParameterId id) = 0;

    protected:
        ~Host() = default;
    };

    explicit EditGestures(Host& host) : host_(host) {}

    void gestureBegan(engine::Setting setting) override;
    void gestureEnded(engine::Setting setting) override;
    void settingEdited(engine::Setting setting, int32_t value) override;

private:
    Host& host_;
    bool inGesture_[engine::kSettingCount]{};
};

}  // namespace plugin
