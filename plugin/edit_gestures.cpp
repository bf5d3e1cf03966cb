#include "edit_gestures.h"

namespace plugin {

void EditGestures::gestureBegan(engine::Setting setting) {
    inGesture_[static_cast<int>(setting)] = true;
    host_.beginEdit(static_cast<ParameterId>(setting));
}

void EditGestures::gestureEnded(engine::Setting setting) {
    inGesture_[static_cast<int>(setting)] = false;
    host_.endEdit(static_cast<ParameterId>(setting));
}

void EditGestures::settingEdited(engine::Setting setting, int32_t value) {
    const auto id = static_cast<ParameterId>(setting);
    const bool alone = !inGesture_[static_cast<int>(setting)];
    if (alone) host_.beginEdit(id);
    host_.performEdit(id, value);
    if (alone) host_.endEdit(id);
}

}  // namespace plugin
