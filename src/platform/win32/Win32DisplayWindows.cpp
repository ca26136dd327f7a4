// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32DisplayWindows.h"

#include "display/HeldFrame.h"
#include "display/ImagePart.h"
#include "platform/win32/Win32Messages.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Text.h"

#include <utility>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

namespace tavrin::win32 {

namespace {

constexpr const wchar_t* kDisplayClass = L"TavrinCapture DisplayWindow";

class GdiDisplayWindow final : public display::DisplayWindowHandle {
  public:
    GdiDisplayWindow(HINSTANCE instance, const display::DisplayWindowPlan& plan,
                     base::MessageLink& controlWindow)
        : part_(plan.part), partWidth_(plan.partWidth), partHeight_(plan.partHeight),
          controlWindow_(controlWindow) {
        const DWORD style = WS_OVERLAPPEDWINDOW;
        RECT outer{0, 0, plan.clientWidth, plan.clientHeight};
        ::AdjustWindowRectEx(&outer, style, FALSE, 0);
        const int x = plan.positioned ? plan.position.x + outer.left : CW_USEDEFAULT;
        const int y = plan.positioned ? plan.position.y + outer.top : CW_USEDEFAULT;
        window_ = ::CreateWindowExW(0, kDisplayClass, widen(plan.title).c_str(), style, x, y,
                                    outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                                    instance, this);
        if (window_)
            ::ShowWindow(window_, SW_SHOWNOACTIVATE);
    }
    ~GdiDisplayWindow() override {
        if (window_) {
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            ::DestroyWindow(window_);
        }
    }
    GdiDisplayWindow(const GdiDisplayWindow&) = delete;
    GdiDisplayWindow& operator=(const GdiDisplayWindow&) = delete;

    bool created() const { return window_ != nullptr; }

    void present(device::FrameRef frame) override {
        held_.present(std::move(frame));
        ::InvalidateRect(window_, nullptr, FALSE);
    }
    void setTopmost(bool on) override {
        ::SetWindowPos(window_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    void bringToFront() override { ::SetForegroundWindow(window_); }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<GdiDisplayWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            switch (message) {
            case WM_PAINT:
                self->paint(window);
                return 0;
            case WM_ERASEBKGND:
                return 1; // the picture covers the whole client area
            case WM_CLOSE:
                // Closing any picture window closes the program the ordinary way.
                self->controlWindow_.post(coreCloseMessage());
                return 0;
            default:
                break;
            }
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

  private:
    void paint(HWND window) {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        RECT client{};
        ::GetClientRect(window, &client);
        bool drawn = false;
        held_.withFrame([&](const device::CaptureFrame& frame) {
            const display::PartSource source =
                display::imagePartSource(frame, part_, partWidth_, partHeight_);
            if (!source.pixels || source.width <= 0 || source.height <= 0)
                return;
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = source.rowPixels;
            info.bmiHeader.biHeight = -source.height; // top row first
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32; // B, G, R, 0
            info.bmiHeader.biCompression = BI_RGB;
            ::SetStretchBltMode(dc, COLORONCOLOR);
            ::StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, source.width, source.height,
                            source.pixels, &info, DIB_RGB_COLORS, SRCCOPY);
            drawn = true;
        });
        if (!drawn)
            ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::EndPaint(window, &paint);
    }

    const display::ImagePart part_;
    const int32_t partWidth_;
    const int32_t partHeight_;
    base::MessageLink& controlWindow_;
    display::HeldFrame held_;
    HWND window_ = nullptr;
};

} // namespace

Win32DisplayWindows::Win32DisplayWindows(HINSTANCE__* instance, base::MessageLink& controlWindow,
                                         FatalError fatalError)
    : instance_(instance), controlWindow_(controlWindow), fatalError_(std::move(fatalError)) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = GdiDisplayWindow::windowProc;
    cls.hInstance = instance;
    cls.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    cls.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.lpszClassName = kDisplayClass;
    (void)::RegisterClassExW(&cls); // a second registration fails harmlessly
}

std::unique_ptr<display::DisplayWindowHandle>
Win32DisplayWindows::createDisplayWindow(const display::DisplayWindowPlan& plan) {
    auto window = std::make_unique<GdiDisplayWindow>(instance_, plan, controlWindow_);
    if (!window->created())
        return nullptr;
    return window;
}

void Win32DisplayWindows::fatalError(const char* text) {
    if (fatalError_)
        fatalError_(text);
}

} // namespace tavrin::win32
