// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_display/X11Window.h"

#include <QWindow>

#if defined(TAVRIN_HAVE_XCB)

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace tavrin::qt_display::x11 {

namespace {

// WM_SIZE_HINTS as ICCCM lays it out: 18 32-bit fields.
enum HintField : std::size_t {
    Flags = 0,
    MinAspectNum = 11,
    MinAspectDen = 12,
    MaxAspectNum = 13,
    MaxAspectDen = 14,
    BaseWidth = 15,
    BaseHeight = 16,
    HintFieldCount = 18,
};
constexpr uint32_t kPAspect = 1u << 7;
constexpr uint32_t kPBaseSize = 1u << 8;

template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    const xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem ? it.data->root : xcb_window_t{XCB_WINDOW_NONE};
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The window a property of type WINDOW names, or none.
xcb_window_t windowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

struct Aspect {
    uint32_t num = 0;
    uint32_t den = 0;
};

// Puts the wanted aspect into the window's size hints if they lack it (or takes it
// out), leaving every other field as Qt wrote it. Answers whether they had one.
bool applyAspect(xcb_connection_t* c, xcb_window_t window, Aspect aspect) {
    std::array<uint32_t, HintFieldCount> hints{};
    {
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(c,
                                   xcb_get_property(c, 0, window, XCB_ATOM_WM_NORMAL_HINTS,
                                                    XCB_ATOM_WM_SIZE_HINTS, 0, HintFieldCount),
                                   nullptr));
        if (reply && reply->format == 32) {
            const auto bytes = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
            std::memcpy(hints.data(), xcb_get_property_value(reply.get()),
                        std::min(bytes, sizeof(uint32_t) * HintFieldCount));
        }
    }
    const bool want = aspect.num != 0 && aspect.den != 0;
    const bool has = (hints[Flags] & kPAspect) != 0;
    if (want && has && hints[MinAspectNum] == aspect.num && hints[MinAspectDen] == aspect.den &&
        hints[MaxAspectNum] == aspect.num && hints[MaxAspectDen] == aspect.den)
        return has;
    if (!want && !has)
        return has;
    if (want) {
        hints[Flags] |= kPAspect;
        hints[MinAspectNum] = hints[MaxAspectNum] = aspect.num;
        hints[MinAspectDen] = hints[MaxAspectDen] = aspect.den;
        // An explicit base of nothing: some managers otherwise take the minimum size
        // off the window size before they compare the aspect.
        if (!(hints[Flags] & kPBaseSize)) {
            hints[Flags] |= kPBaseSize;
            hints[BaseWidth] = hints[BaseHeight] = 0;
        }
    } else {
        hints[Flags] &= ~kPAspect;
        hints[MinAspectNum] = hints[MinAspectDen] = hints[MaxAspectNum] = hints[MaxAspectDen] = 0;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                        32, HintFieldCount, hints.data());
    xcb_flush(c);
    return has;
}

// Follows the size hints of the windows it was given.
class HintKeeper final : public QAbstractNativeEventFilter {
  public:
    static HintKeeper& instance() {
        static auto* keeper = [] {
            auto* k = new HintKeeper; // lives as long as the application's filter list
            qGuiApp->installNativeEventFilter(k);
            return k;
        }();
        return *keeper;
    }

    bool set(xcb_connection_t* c, xcb_window_t window, Aspect aspect) {
        windows_[window] = aspect;
        return applyAspect(c, window, aspect);
    }
    void forget(xcb_window_t window) { windows_.erase(window); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
        if (notify->atom != XCB_ATOM_WM_NORMAL_HINTS || notify->state != XCB_PROPERTY_NEW_VALUE)
            return false;
        const auto it = windows_.find(notify->window);
        if (it != windows_.end())
            if (xcb_connection_t* c = connection())
                applyAspect(c, it->first, it->second);
        return false; // Qt may look at it too
    }

  private:
    std::map<xcb_window_t, Aspect> windows_;
};

uint32_t gcd(uint32_t a, uint32_t b) {
    while (b) {
        a %= b;
        std::swap(a, b);
    }
    return a;
}

} // namespace

bool available() {
    return connection() != nullptr;
}

bool windowManagerRunning() {
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    if (check == XCB_ATOM_NONE)
        return false;
    const xcb_window_t child = windowProperty(c, rootWindow(c), check);
    // A manager that has gone leaves its root property behind; the child window
    // naming itself shows that it is still there.
    return child != XCB_WINDOW_NONE && windowProperty(c, child, check) == child;
}

bool pointerButtonsDown() {
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, rootWindow(c)), nullptr));
    constexpr uint16_t buttons = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 |
                                 XCB_KEY_BUT_MASK_BUTTON_3 | XCB_KEY_BUT_MASK_BUTTON_4 |
                                 XCB_KEY_BUT_MASK_BUTTON_5;
    return reply && (reply->mask & buttons) != 0;
}

bool setAspectHint(QWindow* window, int num, int den) {
    xcb_connection_t* c = connection();
    if (!c || !window || !window->handle())
        return false;
    Aspect aspect;
    if (num > 0 && den > 0) {
        const uint32_t g = gcd(static_cast<uint32_t>(num), static_cast<uint32_t>(den));
        aspect = {static_cast<uint32_t>(num) / g, static_cast<uint32_t>(den) / g};
    }
    return HintKeeper::instance().set(c, static_cast<xcb_window_t>(window->winId()), aspect);
}

void remaximize(QWindow* window) {
    xcb_connection_t* c = connection();
    if (!c || !window || !window->handle())
        return;
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t vertical = atom(c, "_NET_WM_STATE_MAXIMIZED_VERT");
    const xcb_atom_t horizontal = atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ");
    if (state == XCB_ATOM_NONE || vertical == XCB_ATOM_NONE || horizontal == XCB_ATOM_NONE)
        return;
    // As the extended window manager hints ask: to the root window, 0 removes, 1 adds,
    // and the request comes from an ordinary application (source 1).
    for (const uint32_t action : {0u, 1u}) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = static_cast<xcb_window_t>(window->winId());
        event.type = state;
        event.data.data32[0] = action;
        event.data.data32[1] = vertical;
        event.data.data32[2] = horizontal;
        event.data.data32[3] = 1;
        xcb_send_event(c, 0, rootWindow(c),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(c);
}

void forgetWindow(QWindow* window) {
    if (!window || !window->handle() || !connection())
        return;
    HintKeeper::instance().forget(static_cast<xcb_window_t>(window->winId()));
}

} // namespace tavrin::qt_display::x11

#else // no xcb at build time

namespace tavrin::qt_display::x11 {

bool available() {
    return false;
}
bool windowManagerRunning() {
    return false;
}
bool pointerButtonsDown() {
    return false;
}
bool setAspectHint(QWindow*, int, int) {
    return false;
}
void remaximize(QWindow*) {}
void forgetWindow(QWindow*) {}

} // namespace tavrin::qt_display::x11

#endif
