// The LV2 plug-in's editor: an X11 UI in its own module (bytone_ui.so, exporting only
// lv2ui_descriptor) that embeds the same editor in the host's window. It reaches the
// instrument through the host's instance-access feature and is ticked by the host's
// idle calls; each setting the user changes is written to its control port, inside the
// host's touch (a drag's grab) where the host offers it, so hosts record automation.
// A host without instance-access gets no UI from here and shows its own controls for
// the ports.
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstring>
#include <memory>
#include <new>

#include "../editor/create_editor.h"
#include "instance.h"

namespace lv2adapter {

namespace {

class Ui final : editor::SettingListener {
public:
    Ui(Plugin& plugin, LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : write_(write), controller_(controller), touch_(touch), editor_(createEditor(*plugin.instrument)) {
        if (editor_) editor_->setSettingListener(this);
    }
    ~Ui() {
        if (editor_) editor_->setSettingListener(nullptr);
    }
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    bool open(void* parent) { return editor_ && editor_->open(parent); }
    editor::EditorView& editor() { return *editor_; }

private:
    static uint32_t portOf(engine::Setting setting) {
        return portOfParameter(plugin::parameterIndexOf(static_cast<uint32_t>(setting)));
    }
    void gestureBegan(engine::Setting setting) override { grab(setting, true); }
    void gestureEnded(engine::Setting setting) override { grab(setting, false); }
    void settingEdited(engine::Setting setting, int32_t value) override {
        const auto number = static_cast<float>(value);
        write_(controller_, portOf(setting), sizeof number, 0, &number);
    }
    void grab(engine::Setting setting, bool grabbed) {
        if (touch_) touch_->touch(touch_->handle, portOf(setting), grabbed);
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    const LV2UI_Touch* touch_;
    std::unique_ptr<editor::EditorView> editor_;
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    void* parent = nullptr;
    Plugin* plugin = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2UI_Touch* touch = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const char* uri = features[i]->URI;
        if (std::strcmp(uri, LV2_UI__parent) == 0) parent = features[i]->data;
        if (std::strcmp(uri, LV2_INSTANCE_ACCESS_URI) == 0) plugin = static_cast<Plugin*>(features[i]->data);
        if (std::strcmp(uri, LV2_UI__resize) == 0) resize = static_cast<const LV2UI_Resize*>(features[i]->data);
        if (std::strcmp(uri, LV2_UI__touch) == 0) touch = static_cast<const LV2UI_Touch*>(features[i]->data);
    }
    if (!pluginUri || std::strcmp(pluginUri, kUri) != 0 || !parent || !plugin || !write || !widget) return nullptr;
    auto* ui = new (std::nothrow) Ui(*plugin, write, controller, touch);
    if (!ui || !ui->open(parent)) {
        delete ui;
        return nullptr;
    }
    *widget = reinterpret_cast<LV2UI_Widget>(ui->editor().window());
    if (resize) resize->ui_resize(resize->handle, ui->editor().width(), ui->editor().height());
    return ui;
}

const LV2UI_Idle_Interface kIdle = {[](LV2UI_Handle handle) {
    static_cast<Ui*>(handle)->editor().tick();
    return 0;
}};

const LV2UI_Descriptor kUiDescriptor = {
    kUiUri,
    instantiate,
    [](LV2UI_Handle handle) { delete static_cast<Ui*>(handle); },
    // The editor reads the instrument's settings at each tick: a port's new value shows then.
    [](LV2UI_Handle, uint32_t, uint32_t, uint32_t, const void*) {},
    [](const char* uri) -> const void* { return std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdle : nullptr; },
};

}  // namespace

}  // namespace lv2adapter

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &lv2adapter::kUiDescriptor : nullptr;
}
