#include "plug_view.h"

#include <cstring>

#include "../editor/create_editor.h"

#ifdef _WIN32
#include <windows.h>

#include <map>
#endif

namespace vst3adapter {

namespace {

constexpr uint64_t kTickMilliseconds = 30;

template <class T>
v3_funknown* unknown(T** object) {
    return reinterpret_cast<v3_funknown*>(*object);
}

#ifdef _WIN32
// The views whose timers run, by timer: a thread timer's procedure gets only its id.
std::map<UINT_PTR, void*>& timerViews() {
    static std::map<UINT_PTR, void*> views;
    return views;
}
#endif

}  // namespace

const v3_plugin_view_cpp PlugView::kView = {
    {query, ref, unref},
    {
        [](void*, const char* type) -> v3_result {
            return type && std::strcmp(type, V3_VIEW_PLATFORM_TYPE_NATIVE) == 0 ? V3_TRUE : V3_FALSE;
        },
        [](void* self, void* parent, const char* type) { return of(self).attach(parent, type); },
        [](void* self) { return of(self).remove(); },
        [](void*, float) -> v3_result { return V3_FALSE; },
        [](void*, int16_t, int16_t, int16_t) -> v3_result { return V3_FALSE; },
        [](void*, int16_t, int16_t, int16_t) -> v3_result { return V3_FALSE; },
        [](void* self, v3_view_rect* rect) -> v3_result {
            if (!rect) return V3_INVALID_ARG;
            PlugView& view = of(self);
            const int width = view.editor_ ? view.editor_->width() : 0,
                      height = view.editor_ ? view.editor_->height() : 0;
            *rect = {0, 0, width, height};
            return view.editor_ ? V3_OK : V3_FALSE;
        },
        [](void*, v3_view_rect*) -> v3_result { return V3_OK; },
        [](void*, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_plugin_frame** frame) -> v3_result {
            of(self).setFrame(frame);
            return V3_OK;
        },
        [](void*) -> v3_result { return V3_FALSE; },  // one size
        [](void* self, v3_view_rect* rect) -> v3_result {
            if (!rect || !of(self).editor_) return V3_FALSE;
            *rect = {rect->left, rect->top, rect->left + of(self).editor_->width(),
                     rect->top + of(self).editor_->height()};
            return V3_OK;
        },
    },
};

const v3_event_handler_cpp PlugView::kEvents = {
    {query, ref, unref},
    {[](void* self, int) { of(self).tick(); }},
};

const v3_timer_handler_cpp PlugView::kTimer = {
    {query, ref, unref},
    {[](void* self) { of(self).tick(); }},
};

PlugView::PlugView(v3_funknown** plugin, engine::Instrument& instrument, editor::SettingListener& listener)
    : plugin_(plugin), instrument_(instrument), listener_(listener) {
    (*plugin_)->ref(plugin_);
    // The editor is made at once so that a host can ask for the size before attaching.
    editor_ = createEditor(instrument_);
    if (editor_) editor_->setSettingListener(&listener_);
}

PlugView::~PlugView() {
    remove();
    setFrame(nullptr);
    if (editor_) editor_->setSettingListener(nullptr);
    editor_.reset();
    (*plugin_)->unref(plugin_);
}

v3_result PlugView::query(void* self, const v3_tuid iid, void** out) {
    PlugView& view = of(self);
    void* face = nullptr;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_view_iid))
        face = &view.view_;
    else if (v3_tuid_match(iid, v3_event_handler_iid))
        face = &view.events_;
    else if (v3_tuid_match(iid, v3_timer_handler_iid))
        face = &view.timer_;
    *out = face;
    if (!face) return V3_NO_INTERFACE;
    ++view.references_;
    return V3_OK;
}

uint32_t PlugView::ref(void* self) { return ++of(self).references_; }

uint32_t PlugView::unref(void* self) {
    PlugView& view = of(self);
    const uint32_t left = --view.references_;
    if (left == 0) delete &view;
    return left;
}

v3_result PlugView::attach(void* parent, const char* type) {
    if (!editor_ || !parent || !type || std::strcmp(type, V3_VIEW_PLATFORM_TYPE_NATIVE) != 0) return V3_FALSE;
    if (!editor_->open(parent)) return V3_FALSE;
    startTicks();
    return V3_OK;
}

v3_result PlugView::remove() {
    stopTicks();
    if (editor_) editor_->close();
    return V3_OK;
}

void PlugView::setFrame(v3_plugin_frame** frame) {
    if (frame) unknown(frame)->ref(frame);
    if (frame_) unknown(frame_)->unref(frame_);
    frame_ = frame;
}

void PlugView::tick() {
    if (editor_) editor_->tick();
}

void PlugView::startTicks() {
    stopTicks();
#ifdef _WIN32
    systemTimer_ = SetTimer(nullptr, 0, kTickMilliseconds, [](HWND, UINT, UINT_PTR id, DWORD) {
        const auto view = timerViews().find(id);
        if (view != timerViews().end()) static_cast<PlugView*>(view->second)->tick();
    });
    if (systemTimer_) timerViews()[systemTimer_] = this;
#else
    void* loop = nullptr;
    if (!frame_ || unknown(frame_)->query_interface(frame_, v3_run_loop_iid, &loop) != V3_OK || !loop) return;
    runLoop_ = static_cast<v3_run_loop**>(loop);
    auto* calls = v3_cpp_obj(runLoop_);
    watchedFd_ = editor_->connectionFd();
    if (watchedFd_ >= 0 &&
        calls->register_event_handler(runLoop_, reinterpret_cast<v3_event_handler**>(&events_), watchedFd_) != V3_OK)
        watchedFd_ = -1;
    calls->register_timer(runLoop_, reinterpret_cast<v3_timer_handler**>(&timer_), kTickMilliseconds);
#endif
}

void PlugView::stopTicks() {
#ifdef _WIN32
    if (systemTimer_) {
        KillTimer(nullptr, systemTimer_);
        timerViews().erase(systemTimer_);
        systemTimer_ = 0;
    }
#else
    if (!runLoop_) return;
    auto* calls = v3_cpp_obj(runLoop_);
    if (watchedFd_ >= 0) calls->unregister_event_handler(runLoop_, reinterpret_cast<v3_event_handler**>(&events_));
    calls->unregister_timer(runLoop_, reinterpret_cast<v3_timer_handler**>(&timer_));
    watchedFd_ = -1;
    unknown(runLoop_)->unref(runLoop_);
    runLoop_ = nullptr;
#endif
}

}  // namespace vst3adapter
