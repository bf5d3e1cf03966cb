#include "x11_keyboard.h"

// The keyboard extension's C header names a field "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>

namespace editor {

namespace {

// Every event of the keyboard extension begins so.
struct KeyboardEvent {
    uint8_t responseType;
    uint8_t xkbType;
    uint16_t sequence;
    xcb_timestamp_t time;
    uint8_t deviceId;
};

// The locale whose Compose sequences apply, found as the C library finds it.
const char* composeLocale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* value = std::getenv(name); value && *value) return value;
    return "C";
}

bool startsSequence(xkb_keysym_t keysym) {
    return (keysym >= XKB_KEY_dead_grave && keysym <= XKB_KEY_dead_longsolidusoverlay) || keysym == XKB_KEY_Multi_key;
}

std::string utf8Of(int length, const char* buffer, size_t size) {
    return length > 0 ? std::string(buffer, std::min(static_cast<size_t>(length), size - 1)) : std::string();
}

}  // namespace

bool X11Keyboard::open(xcb_connection_t* connection) {
    close();
    connection_ = connection;
    uint16_t major = 0, minor = 0;
    uint8_t firstError = 0;
    if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, &major, &minor, &firstEvent_, &firstError))
        return false;
    device_ = xkb_x11_get_core_keyboard_device_id(connection);
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (device_ < 0 || !context_ || !loadKeymap()) {
        close();
        return false;
    }
    // A new keymap (another layout), and the modifiers and group as they change.
    constexpr uint16_t kEvents =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr uint16_t kMapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                   XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr uint16_t kStateParts = XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH |
                                     XCB_XKB_STATE_PART_MODIFIER_LOCK | XCB_XKB_STATE_PART_GROUP_BASE |
                                     XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = details.stateDetails = kStateParts;
    xcb_xkb_select_events_aux(connection, static_cast<xcb_xkb_device_spec_t>(device_), kEvents, 0, 0, kMapParts,
                              kMapParts, &details);
    return true;
}

bool X11Keyboard::loadKeymap() {
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, connection_, device_, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_state* state = keymap ? xkb_x11_state_new_from_device(keymap, connection_, device_) : nullptr;
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
    return true;
}

void X11Keyboard::close() {
    xkb_compose_state_unref(composeState_);
    xkb_compose_table_unref(composeTable_);
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
    composeState_ = nullptr;
    composeTable_ = nullptr;
    state_ = nullptr;
    keymap_ = nullptr;
    context_ = nullptr;
    composeLoaded_ = false;
    connection_ = nullptr;
    device_ = -1;
}

bool X11Keyboard::handle(const xcb_generic_event_t* event) {
    if (!state_ || firstEvent_ == 0 || (event->response_type & 0x7F) != firstEvent_) return false;
    const auto& any = *reinterpret_cast<const KeyboardEvent*>(event);
    if (any.deviceId != device_) return true;
    switch (any.xkbType) {
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
            if (reinterpret_cast<const xcb_xkb_new_keyboard_notify_event_t*>(event)->changed &
                XCB_XKB_NKN_DETAIL_KEYCODES)
                loadKeymap();
            break;
        case XCB_XKB_MAP_NOTIFY: loadKeymap(); break;
        case XCB_XKB_STATE_NOTIFY: {
            const auto& state = *reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
            xkb_state_update_mask(state_, state.baseMods, state.latchedMods, state.lockedMods,
                                  static_cast<xkb_layout_index_t>(state.baseGroup),
                                  static_cast<xkb_layout_index_t>(state.latchedGroup), state.lockedGroup);
            break;
        }
        default: break;
    }
    return true;
}

// Feeds a sequence in progress, or one the key starts; true when the key belonged to one.
bool X11Keyboard::compose(uint32_t keysym, Key& key) {
    if (!composeLoaded_ && startsSequence(keysym)) {
        composeLoaded_ = true;
        composeTable_ = xkb_compose_table_new_from_locale(context_, composeLocale(), XKB_COMPOSE_COMPILE_NO_FLAGS);
        if (composeTable_) composeState_ = xkb_compose_state_new(composeTable_, XKB_COMPOSE_STATE_NO_FLAGS);
    }
    if (!composeState_ || xkb_compose_state_feed(composeState_, keysym) != XKB_COMPOSE_FEED_ACCEPTED) return false;
    switch (xkb_compose_state_get_status(composeState_)) {
        case XKB_COMPOSE_NOTHING: return false;
        case XKB_COMPOSE_COMPOSING: break;
        case XKB_COMPOSE_COMPOSED: {
            char buffer[64];
            key.text = utf8Of(xkb_compose_state_get_utf8(composeState_, buffer, sizeof buffer), buffer, sizeof buffer);
            key.keysym = xkb_compose_state_get_one_sym(composeState_);
            xkb_compose_state_reset(composeState_);
            break;
        }
        case XKB_COMPOSE_CANCELLED: xkb_compose_state_reset(composeState_); break;
    }
    return true;
}

X11Keyboard::Key X11Keyboard::press(xcb_keycode_t code) {
    Key key;
    if (!state_) return key;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state_, code);
    if (compose(keysym, key)) return key;
    key.keysym = keysym;
    char buffer[64];
    key.text = utf8Of(xkb_state_key_get_utf8(state_, code, buffer, sizeof buffer), buffer, sizeof buffer);
    return key;
}

uint32_t X11Keyboard::shortcut(xcb_keycode_t code) const {
    if (!state_) return 0;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state_, code);
    if (keysym < 0x80) return keysym;
    const xkb_keysym_t* first = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap_, code, 0, 0, &first) > 0 && first[0] < 0x80) return first[0];
    return keysym;
}

}  // namespace editor
