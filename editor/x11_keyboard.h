// The keyboard as the X server describes it through its keyboard extension, read with
// xkbcommon, the library the X11 and Wayland toolkits read it with: a key's symbol and
// text come from the whole keyboard state (Shift, AltGr and the other levels, the layout
// group, NumLock), dead keys and Compose sequences follow the user's locale, and a
// layout or keymap changed while the editor is open is followed at once.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;

namespace editor {

class X11Keyboard {
public:
    X11Keyboard() = default;
    ~X11Keyboard() { close(); }
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // Reads the core keyboard's keymap and state on `connection` and asks the server for
    // their changes; false when the server has no keyboard extension (no key then types).
    bool open(xcb_connection_t* connection);
    void close();
    // Takes an event of the keyboard extension (a new keymap, a new state); false for
    // any other event, which the caller handles.
    bool handle(const xcb_generic_event_t* event);

    struct Key {
        uint32_t keysym = 0;  // 0 for a key that only went into a dead key or Compose sequence
        std::string text;     // UTF-8, as the key types it (a whole composed sequence at its end)
    };
    Key press(xcb_keycode_t code);
    // The symbol for a shortcut with Ctrl: the key's letter, read in the first layout
    // when the current one has none there (Ctrl+C on a Cyrillic layout is Ctrl+C).
    uint32_t shortcut(xcb_keycode_t code) const;

private:
    bool loadKeymap();
    bool compose(uint32_t keysym, Key& key);

    xcb_connection_t* connection_ = nullptr;
    int32_t device_ = -1;
    uint8_t firstEvent_ = 0;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    // Read at the first dead key or Compose key: most users never press one.
    xkb_compose_table* composeTable_ = nullptr;
    xkb_compose_state* composeState_ = nullptr;
    bool composeLoaded_ = false;
};

}  // namespace editor
