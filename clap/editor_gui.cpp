#include "editor_gui.h"

#include <chrono>
#include <cstring>

#include "../editor/create_editor.h"

namespace clapadapter {

namespace {

constexpr uint32_t kTickMilliseconds = 30;

const clap_host_timer_support_t* timersOf(const clap_host_t* host) {
    const auto* timers =
        static_cast<const clap_host_timer_support_t*>(host->get_extension(host, CLAP_EXT_TIMER_SUPPORT));
    return timers && timers->register_timer && timers->unregister_timer ? timers : nullptr;
}

}  // namespace

EditorGui::EditorGui(const clap_host_t* host, engine::Instrument& instrument, editor::SettingListener& listener)
    : host_(host), instrument_(instrument), listener_(listener) {}

EditorGui::~EditorGui() { destroy(); }

const char* EditorGui::windowApi() {
#ifdef _WIN32
    return CLAP_WINDOW_API_WIN32;
#else
    return CLAP_WINDOW_API_X11;
#endif
}

bool EditorGui::supports(const char* api, bool floating) {
    return api && !floating && std::strcmp(api, windowApi()) == 0;
}

bool EditorGui::create(const char* api, bool floating) {
    if (view_ || !supports(api, floating)) return false;
    view_ = createEditor(instrument_);
    if (!view_) return false;
    view_->setSettingListener(&listener_);
    startTicks();
    return true;
}

void EditorGui::destroy() {
    if (!view_) return;
    stopTicks();
    view_->setSettingListener(nullptr);
    view_.reset();  // closes the window
    parent_ = nullptr;
    open_ = false;
}

bool EditorGui::size(uint32_t* width, uint32_t* height) const {
    if (!view_ || !width || !height) return false;
    *width = static_cast<uint32_t>(view_->width());
    *height = static_cast<uint32_t>(view_->height());
    return true;
}

bool EditorGui::setParent(const clap_window_t* window) {
    if (!view_ || !window || !window->api || std::strcmp(window->api, windowApi()) != 0) return false;
#ifdef _WIN32
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    if (!parent) return false;
    open_ = view_->open(parent);
    parent_ = open_ ? parent : nullptr;
    return open_;
}

bool EditorGui::show() {
    if (!view_ || !parent_) return false;
    if (!open_) open_ = view_->open(parent_);
    return open_;
}

bool EditorGui::hide() {
    if (!view_) return false;
    if (open_) view_->close();
    open_ = false;
    return true;
}

void EditorGui::onTimer(clap_id timer) {
    if (view_ && timer == timer_) view_->tick();
}

void EditorGui::onMainThread() {
    if (view_ && callbackTicks_) view_->tick();
}

void EditorGui::startTicks() {
    if (const clap_host_timer_support_t* timers = timersOf(host_)) {
        if (timers->register_timer(host_, kTickMilliseconds, &timer_)) return;
        timer_ = CLAP_INVALID_ID;
    }
    if (!host_->request_callback) return;
    callbackTicks_ = true;
    askerStop_ = false;
    asker_ = std::thread([this] {
        std::unique_lock<std::mutex> hold(askerLock_);
        while (!askerWake_.wait_for(hold, std::chrono::milliseconds(kTickMilliseconds), [this] { return askerStop_; }))
            host_->request_callback(host_);
    });
}

void EditorGui::stopTicks() {
    if (timer_ != CLAP_INVALID_ID) {
        if (const clap_host_timer_support_t* timers = timersOf(host_)) timers->unregister_timer(host_, timer_);
        timer_ = CLAP_INVALID_ID;
    }
    callbackTicks_ = false;
    if (asker_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(askerLock_);
            askerStop_ = true;
        }
        askerWake_.notify_one();
        asker_.join();
    }
}

}  // namespace clapadapter
