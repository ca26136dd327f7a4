// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32DisplayWindows.h"

#include "base/Diagnostics.h"
#include "display/DisplayWindowActions.h"
#include "display/HeldFrame.h"
#include "display/ImagePart.h"
#include "display/SizingRule.h"
#include "display/WindowPlacement.h"
#include "platform/win32/Win32PictureDrawing.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Text.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

namespace tavrin::win32 {

namespace {

constexpr const wchar_t* kDisplayClass = L"TavrinCapture DisplayWindow";
constexpr DWORD kFramedStyle = WS_OVERLAPPEDWINDOW;

std::optional<display::DisplayKey> displayKey(WPARAM key) {
    switch (key) {
    case VK_ESCAPE:
        return display::DisplayKey::Escape;
    case VK_F3:
        return display::DisplayKey::F3;
    case VK_F4:
        return display::DisplayKey::F4;
    case VK_F6:
        return display::DisplayKey::F6;
    case VK_F7:
        return display::DisplayKey::F7;
    case VK_F12:
        return display::DisplayKey::F12;
    default:
        return std::nullopt;
    }
}

display::SizingEdge sizingEdge(WPARAM edge) {
    switch (edge) {
    case WMSZ_LEFT:
        return display::SizingEdge::Left;
    case WMSZ_RIGHT:
        return display::SizingEdge::Right;
    case WMSZ_TOP:
        return display::SizingEdge::Top;
    case WMSZ_TOPLEFT:
        return display::SizingEdge::TopLeft;
    case WMSZ_TOPRIGHT:
        return display::SizingEdge::TopRight;
    case WMSZ_BOTTOM:
        return display::SizingEdge::Bottom;
    case WMSZ_BOTTOMLEFT:
        return display::SizingEdge::BottomLeft;
    case WMSZ_BOTTOMRIGHT:
        return display::SizingEdge::BottomRight;
    default:
        return display::SizingEdge::None;
    }
}

// The room a framed window's border and caption take around its client area.
SIZE frameExtra() {
    RECT outer{0, 0, 0, 0};
    ::AdjustWindowRectEx(&outer, kFramedStyle, FALSE, 0);
    return {outer.right - outer.left, outer.bottom - outer.top};
}

HMENU buildMenu(const std::vector<display::MenuEntry>& entries) {
    HMENU menu = ::CreatePopupMenu();
    for (const display::MenuEntry& entry : entries) {
        switch (entry.kind) {
        case display::MenuEntry::Separator:
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            break;
        case display::MenuEntry::Submenu:
            ::AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(buildMenu(entry.children)),
                          widen(entry.text).c_str());
            break;
        case display::MenuEntry::Item:
            ::AppendMenuW(menu,
                          MF_STRING | (entry.checked ? MF_CHECKED : MF_UNCHECKED) |
                              (entry.enabled ? MF_ENABLED : MF_GRAYED),
                          static_cast<UINT_PTR>(entry.id), widen(entry.text).c_str());
            break;
        }
    }
    return menu;
}

} // namespace

class Win32DisplayWindow final : public display::DisplayWindowHandle, public display::DisplayWindowHost {
  public:
    Win32DisplayWindow(Win32DisplayWindows& owner, HINSTANCE instance, const display::DisplayWindowPlan& plan,
                       base::Settings& settings, display::PictureOptions& picture,
                       base::ProgramOptions* options, base::MessageLink& controlWindow)
        : owner_(owner), settings_(settings), picture_(picture), title_(widen(plan.title)), part_(plan.part),
          partWidth_(plan.partWidth > 0 ? plan.partWidth : plan.width),
          partHeight_(plan.partHeight > 0 ? plan.partHeight : plan.height), twoScreens_(plan.twoScreens),
          windowSlot_(plan.windowSlot),
          arranged_(display::arrangePicture(picture, twoScreens_, partWidth_, partHeight_)),
          actions_(settings, picture, controlWindow, *this, options) {
        const SIZE extra = frameExtra();
        RECT outer{0, 0, plan.clientWidth, plan.clientHeight};
        ::AdjustWindowRectEx(&outer, kFramedStyle, FALSE, 0);
        const int x = plan.positioned ? plan.position.x + outer.left : CW_USEDEFAULT;
        const int y = plan.positioned ? plan.position.y + outer.top : CW_USEDEFAULT;
        window_ = ::CreateWindowExW(0, kDisplayClass, title_.c_str(), kFramedStyle, x, y,
                                    plan.clientWidth + extra.cx, plan.clientHeight + extra.cy, nullptr,
                                    nullptr, instance, this);
        if (!window_)
            return;
        std::string why;
        drawing_ = createDirect3DDrawing(window_, partWidth_, partHeight_, why);
        if (!drawing_) {
            static bool told = false;
            if (!told)
                base::displayLog.warning("display: Direct3D 9 is not available (%s); drawing with GDI\n",
                                         why.c_str());
            told = true;
            drawing_ = createGdiDrawing(window_, partWidth_, partHeight_);
        }
        setTopmost(settings_.alwaysOnTop != 0);
        ::ShowWindow(window_, SW_SHOWNOACTIVATE);
    }
    ~Win32DisplayWindow() override {
        owner_.forget(this);
        if (window_) {
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            drawing_.reset();
            ::DestroyWindow(window_);
        }
    }
    Win32DisplayWindow(const Win32DisplayWindow&) = delete;
    Win32DisplayWindow& operator=(const Win32DisplayWindow&) = delete;

    bool created() const { return window_ != nullptr; }

    // --- DisplayWindowHandle ---
    void present(device::FrameRef frame) override {
        held_.present(std::move(frame));
        ::InvalidateRect(window_, nullptr, FALSE);
    }
    void setTopmost(bool on) override {
        ::SetWindowPos(window_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    void bringToFront() override { ::SetForegroundWindow(window_); }

    // --- DisplayWindowHost ---
    void postCommand(int32_t id) override { ::PostMessageW(window_, WM_COMMAND, static_cast<WPARAM>(id), 0); }
    bool inFullScreen() const override { return ::IsZoomed(window_) != FALSE; }
    void enterFullScreen() override {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (::GetWindowPlacement(window_, &placement) && placement.showCmd != SW_SHOWMAXIMIZED)
            normalPlace_ = placement.rcNormalPosition;
        ::SetWindowLongPtrW(window_, GWL_STYLE, WS_POPUP | WS_VISIBLE);
        // Above everything, whatever alwaysOnTop says, as long as it covers the monitor.
        ::SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOREDRAW | SWP_NOMOVE | SWP_NOSIZE);
        ::ShowWindow(window_, SW_SHOWMAXIMIZED);
        // A maximised window without a caption gets the work area; the monitor is wanted.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& m = monitor.rcMonitor;
            ::SetWindowPos(window_, nullptr, m.left, m.top, m.right - m.left, m.bottom - m.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    void leaveFullScreen(bool topmost) override {
        ::ShowWindow(window_, SW_RESTORE);
        ::SetWindowLongPtrW(window_, GWL_STYLE, kFramedStyle | WS_VISIBLE);
        ::SetWindowPos(window_, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOREDRAW | SWP_NOMOVE | SWP_NOSIZE);
        ::ShowWindow(window_, SW_RESTORE);
        // A window manager may keep its own maximised state through the change of
        // frame (openbox under Wine does): the place from before is asked for again.
        if (normalPlace_) {
            WINDOWPLACEMENT placement{};
            placement.length = sizeof placement;
            placement.showCmd = SW_SHOWNORMAL;
            placement.rcNormalPosition = *normalPlace_;
            ::SetWindowPlacement(window_, &placement);
            normalPlace_.reset();
        }
    }
    void pictureChanged(bool shape) override { owner_.rearrangeAll(shape); }

    // The picture options changed: the new arrangement, and with `shape` a window of
    // the new shape at the scale the old one was shown at.
    void rearrange(bool shape) {
        const display::ArrangedPicture before = arranged_;
        arranged_ = display::arrangePicture(picture_, twoScreens_, partWidth_, partHeight_);
        if (shape && !inFullScreen() &&
            (arranged_.width != before.width || arranged_.height != before.height)) {
            const display::ClientSize wanted = display::reshapedClientSize(
                before.width, before.height, arranged_.width, arranged_.height, clientSize(), roomOnScreen());
            setClientSize(wanted);
            saveSize(wanted);
        }
        ::InvalidateRect(window_, nullptr, FALSE);
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<Win32DisplayWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            if (const std::optional<LRESULT> result = self->handle(message, wParam, lParam))
                return *result;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

  private:
    // Empty: default processing.
    std::optional<LRESULT> handle(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_PAINT:
            paint();
            return 0;
        case WM_ERASEBKGND:
            return 1; // the drawing covers the whole client area
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED && drawing_)
                drawing_->resized();
            break;
        case WM_CLOSE:
            // The window stays; the control window closes the program and with it the windows.
            actions_.closeRequested();
            return 0;
        case WM_KEYDOWN:
            if (const std::optional<display::DisplayKey> key = displayKey(wParam))
                actions_.keyDown(*key);
            break;
        case WM_SYSKEYDOWN:
            if (wParam == VK_RETURN) {
                actions_.keyDown(display::DisplayKey::AltEnter);
                return 0; // no beep for a key the menu bar does not know
            }
            break;
        case WM_COMMAND:
            if (actions_.command(static_cast<int32_t>(LOWORD(wParam))))
                return 0;
            break;
        case WM_CONTEXTMENU:
            if (lParam == -1) { // from the keyboard: at the client area's corner
                POINT corner{0, 0};
                ::ClientToScreen(window_, &corner);
                showContextMenu(corner);
                return 0;
            }
            break;
        case WM_RBUTTONUP: {
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ::ClientToScreen(window_, &at);
            showContextMenu(at);
            return 0;
        }
        case WM_MENUCHAR:
            return MNC_CLOSE << 16;
        case WM_LBUTTONDOWN:
            if (actions_.dragAllowed()) {
                dragging_ = true;
                dragFrom_ = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                ::SetCapture(window_);
            }
            return 0;
        case WM_MOUSEMOVE:
            if (dragging_) {
                // The window follows the cursor, so the picture stays under it.
                RECT r{};
                ::GetWindowRect(window_, &r);
                const int dx = static_cast<short>(LOWORD(lParam)) - dragFrom_.x;
                const int dy = static_cast<short>(HIWORD(lParam)) - dragFrom_.y;
                ::SetWindowPos(window_, nullptr, r.left + dx, r.top + dy, 0, 0,
                               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            if (dragging_) {
                dragging_ = false;
                if (message == WM_LBUTTONUP)
                    ::ReleaseCapture();
            }
            return message == WM_LBUTTONUP ? std::optional<LRESULT>(0) : std::nullopt;
        case WM_LBUTTONDBLCLK:
            dragging_ = false;
            actions_.toggleFullScreen();
            break;
        case WM_SIZING: {
            auto* proposed = reinterpret_cast<RECT*>(lParam);
            const SIZE extra = frameExtra();
            display::WindowRect rect{proposed->left, proposed->top, proposed->right, proposed->bottom};
            if (picture_.integerScale)
                rect = pointerSizing_.follow(rect);
            const display::ClientSize size =
                display::applySizingRule(arranged_.width, arranged_.height, extra.cx, extra.cy,
                                         sizingEdge(wParam), rect, picture_.integerScale);
            pointerSizing_.gave(rect);
            *proposed = RECT{rect.left, rect.top, rect.right, rect.bottom};
            if (size.width > 0) {
                settings_.clientWidth[windowSlot_] = size.width;
                settings_.clientHeight[windowSlot_] = size.height;
                ::SetWindowTextW(window_, widen(display::sizingTitle(size)).c_str());
            }
            return TRUE;
        }
        case WM_ENTERSIZEMOVE:
            pointerSizing_.end();
            return 0;
        case WM_EXITSIZEMOVE:
            pointerSizing_.end();
            ::SetWindowTextW(window_, title_.c_str());
            return 0;
        default:
            break;
        }
        return std::nullopt;
    }

    void paint() {
        PAINTSTRUCT ps;
        ::BeginPaint(window_, &ps);
        ::EndPaint(window_, &ps);
        if (!drawing_)
            return;
        DrawOptions options;
        options.pointScaling = settings_.pointScaling != 0;
        options.shrink = settings_.shrinkWhenMaximized != 0 && inFullScreen();
        options.maximizedShrink = settings_.maximizedShrink;
        options.integerScale = picture_.integerScale;
        const bool drawn = held_.withFrame([&](const device::CaptureFrame& frame) {
            const display::PartSource source =
                display::imagePartSource(frame, part_, partWidth_, partHeight_);
            const bool whole = source.pixels && source.width == partWidth_ && source.height == partHeight_;
            drawing_->draw(whole ? &source : nullptr, arranged_, options);
        });
        if (!drawn)
            drawing_->draw(nullptr, arranged_, options);
    }

    void showContextMenu(POINT at) {
        HMENU menu = buildMenu(actions_.contextMenu());
        // The chosen command arrives as WM_COMMAND, as from a posted key.
        ::SetForegroundWindow(window_);
        ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
        ::DestroyMenu(menu);
    }

    display::ClientSize clientSize() const {
        RECT client{};
        ::GetClientRect(window_, &client);
        return {client.right, client.bottom};
    }

    void setClientSize(display::ClientSize size) {
        const SIZE extra = frameExtra();
        ::SetWindowPos(window_, nullptr, 0, 0, size.width + extra.cx, size.height + extra.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    display::ClientSize roomOnScreen() const {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (!::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor))
            return {INT32_MAX / 2, INT32_MAX / 2};
        const SIZE extra = frameExtra();
        const RECT& work = monitor.rcWork;
        return {work.right - work.left - extra.cx, work.bottom - work.top - extra.cy};
    }

    void saveSize(display::ClientSize size) {
        const display::ClientSize kept =
            display::keptClientSize(arranged_.width, arranged_.height, size, roomOnScreen());
        settings_.clientWidth[windowSlot_] = kept.width;
        settings_.clientHeight[windowSlot_] = kept.height;
    }

    Win32DisplayWindows& owner_;
    base::Settings& settings_;
    display::PictureOptions& picture_;
    const std::wstring title_;
    const display::ImagePart part_;
    const int32_t partWidth_;
    const int32_t partHeight_;
    const bool twoScreens_;
    const int32_t windowSlot_;
    display::ArrangedPicture arranged_;
    display::DisplayWindowActions actions_;
    display::HeldFrame held_;
    std::unique_ptr<PictureDrawing> drawing_;
    HWND window_ = nullptr;
    std::optional<RECT> normalPlace_; // where full screen was entered from
    bool dragging_ = false;
    // The rectangle the pointer makes while the sizing loop runs (integer scaling).
    display::PointerSizing pointerSizing_;
    POINT dragFrom_{0, 0};
};

Win32DisplayWindows::Win32DisplayWindows(HINSTANCE__* instance, base::Settings& settings,
                                         base::ProgramOptions* options, base::MessageLink& controlWindow,
                                         FatalError fatalError)
    : instance_(instance), settings_(settings), options_(options), controlWindow_(controlWindow),
      fatalError_(std::move(fatalError)) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_DBLCLKS; // a double click switches full screen
    cls.lpfnWndProc = Win32DisplayWindow::windowProc;
    cls.hInstance = instance;
    cls.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    cls.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.lpszClassName = kDisplayClass;
    (void)::RegisterClassExW(&cls); // a second registration fails harmlessly
}

Win32DisplayWindows::~Win32DisplayWindows() = default;

std::unique_ptr<display::DisplayWindowHandle>
Win32DisplayWindows::createDisplayWindow(const display::DisplayWindowPlan& plan) {
    display::PictureOptions& picture = options_ ? options_->picture : plainPicture_;
    auto window = std::make_unique<Win32DisplayWindow>(*this, instance_, plan, settings_, picture, options_,
                                                       controlWindow_);
    if (!window->created())
        return nullptr;
    windows_.push_back(window.get());
    return window;
}

void Win32DisplayWindows::rearrangeAll(bool shape) {
    for (Win32DisplayWindow* window : windows_)
        window->rearrange(shape);
}

void Win32DisplayWindows::forget(Win32DisplayWindow* window) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

void Win32DisplayWindows::fatalError(const char* text) {
    if (fatalError_)
        fatalError_(text);
}

} // namespace tavrin::win32
