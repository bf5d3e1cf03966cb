// The X11 CLIPBOARD as the editor takes part in it: the atoms it names, and the owner
// that serves what the editor copied.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace editor {

inline xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return result;
}

// The CLIPBOARD while the editor owns it, served by a thread of its own on a connection
// of its own: a host whose toolkit asks the new owner for its targets on its user-interface
// thread right after Copy (Qt does) gets its answer at once, not at the host's next idle,
// which that blocked thread would have to run.
class ClipboardOwner {
public:
    ClipboardOwner() = default;
    ~ClipboardOwner() { stop(); }
    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;

    // Takes the CLIPBOARD with `text`; false when the server gave it to nobody.
    bool take(const std::string& text) {
        if (!connection_ && !start()) return false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            text_ = text;
        }
        xcb_set_selection_owner(connection_, window_, clipboard_, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr);
        owns_ = owner && owner->owner == window_;
        std::free(owner);
        return owns_;
    }
    bool owns() const { return owns_; }
    std::string text() {
        std::lock_guard<std::mutex> hold(lock_);
        return text_;
    }
    // Gives the CLIPBOARD up if it is still ours and ends the thread.
    void stop() {
        if (!connection_) return;
        if (owns_) xcb_set_selection_owner(connection_, XCB_NONE, clipboard_, XCB_CURRENT_TIME);
        // A message to its own window wakes the thread, which then ends.
        xcb_client_message_event_t wake{};
        wake.response_type = XCB_CLIENT_MESSAGE;
        wake.window = window_;
        wake.format = 32;
        wake.type = stop_;
        xcb_send_event(connection_, 0, window_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
        xcb_flush(connection_);
        if (server_.joinable()) server_.join();
        xcb_disconnect(connection_);
        connection_ = nullptr;
        owns_ = false;
    }

private:
    bool start() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
            return false;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        clipboard_ = atom("CLIPBOARD");
        utf8_ = atom("UTF8_STRING");
        targets_ = atom("TARGETS");
        textAtom_ = atom("TEXT");
        stop_ = atom("BYTONE_STOP");
        server_ = std::thread([this] { serve(); });
        return true;
    }
    xcb_atom_t atom(const char* name) { return internAtom(connection_, name); }
    void serve() {
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
            const uint8_t type = event->response_type & 0x7F;
            bool stopping = false;
            if (type == XCB_SELECTION_REQUEST)
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
            else if (type == XCB_SELECTION_CLEAR)
                owns_ = false;
            else if (type == XCB_CLIENT_MESSAGE)
                stopping = reinterpret_cast<xcb_client_message_event_t*>(event)->type == stop_;
            std::free(event);
            if (stopping) return;
        }
    }
    void answer(const xcb_selection_request_event_t& request) {
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        // Clients of the old conventions name no property: the target serves as one.
        notify.property = request.property == XCB_NONE ? request.target : request.property;
        const std::string text = this->text();
        if (request.selection != clipboard_ || !owns_) {
            notify.property = XCB_NONE;
        } else if (request.target == targets_) {
            const xcb_atom_t offered[] = {targets_, utf8_, XCB_ATOM_STRING, textAtom_};
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, notify.property, XCB_ATOM_ATOM,
                                32, 4, offered);
        } else if (request.target == utf8_ || request.target == XCB_ATOM_STRING || request.target == textAtom_) {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, notify.property,
                                request.target == textAtom_ ? static_cast<xcb_atom_t>(XCB_ATOM_STRING) : request.target,
                                8, static_cast<uint32_t>(text.size()), text.data());
        } else {
            notify.property = XCB_NONE;
        }
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t clipboard_ = XCB_NONE, utf8_ = XCB_NONE, targets_ = XCB_NONE, textAtom_ = XCB_NONE, stop_ = XCB_NONE;
    std::thread server_;
    std::mutex lock_;
    std::string text_;
    std::atomic<bool> owns_{false};
};

}  // namespace editor
