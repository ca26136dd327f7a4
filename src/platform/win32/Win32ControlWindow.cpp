// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32ControlWindow.h"

#include "app/ControlWindowLogic.h"
#include "device/DeviceArrival.h"
#include "platform/win32/Win32Messages.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Text.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <uxtheme.h>
#include <vssym32.h>

namespace tavrin::win32 {

namespace {

constexpr UINT_PTR kBlinkTimer = 1;
constexpr int kIconSize = 32;

// The system menu's "&Debug console" item sends WM_SYSCOMMAND with this id.
constexpr UINT kDebugConsoleItem = 0;

HICON loadIcon(HINSTANCE instance, int id) {
    return static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, kIconSize, kIconSize, 0));
}

} // namespace

int pushButtonState(const ButtonLook& look) {
    if (look.disabled)
        return PBS_DISABLED;
    if (look.selected || look.pushLikeChecked)
        return PBS_PRESSED;
    if (look.hot)
        return PBS_HOT;
    if (look.defaultButton || look.focused)
        return PBS_DEFAULTED;
    return PBS_NORMAL;
}

IconOrigin centredIcon(int left, int top, int width, int height, int iconSize) {
    return {left + (width - iconSize) / 2, top + (height - iconSize) / 2};
}

Win32ControlWindow::Win32ControlWindow(HINSTANCE__* instance) : instance_(instance) {}

Win32ControlWindow::~Win32ControlWindow() {
    target_.setWindow(nullptr);
    if (window_ && ::IsWindow(window_))
        ::DestroyWindow(window_);
    closeTheme();
    for (HICON icon : {iconRecordIdle_, iconRecordActive_, iconScreenshot_})
        if (icon)
            ::DestroyIcon(icon);
}

void Win32ControlWindow::registerClass(HINSTANCE__* instance) {
    // The system dialog class under our name, so that the dialog template can name it
    // and the window carries the program icon.
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    if (!::GetClassInfoExW(nullptr, MAKEINTRESOURCEW(0x8002), &cls))
        return;
    cls.hInstance = instance;
    cls.lpszClassName = kClassName;
    cls.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    cls.hIconSm = nullptr;
    (void)::RegisterClassExW(&cls);
}

void Win32ControlWindow::attach(app::ControlWindowLogic& logic, std::function<void()> initialised) {
    logic_ = &logic;
    initialised_ = std::move(initialised);
}

bool Win32ControlWindow::create() {
    thread_ = ::GetCurrentThreadId();
    HWND window = ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_CONTROL_WINDOW), nullptr, dialogProc,
                                       reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

INT_PTR CALLBACK Win32ControlWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32ControlWindow*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->initialise();
        return FALSE; // the focus comes with the posted WM_NEXTDLGCTL
    }
    auto* self = reinterpret_cast<Win32ControlWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->onMessage(message, wParam, lParam) : FALSE;
}

void Win32ControlWindow::initialise() {
    ::SetWindowTextW(window_, L"Tavrin Capture");
    openTheme();
    iconRecordActive_ = loadIcon(instance_, IDI_RECORD_ACTIVE);
    iconRecordIdle_ = loadIcon(instance_, IDI_RECORD_IDLE);
    iconScreenshot_ = loadIcon(instance_, IDI_SCREENSHOT);
    ::SendDlgItemMessageW(window_, app::IDC_SCREENSHOT, BM_SETIMAGE, IMAGE_ICON,
                          reinterpret_cast<LPARAM>(iconScreenshot_));
    target_.setWindow(window_);
    if (logic_)
        logic_->initialise(target_);
    if (consoleAvailable_) {
        if (HMENU menu = ::GetSystemMenu(window_, FALSE)) {
            ::InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, kDebugConsoleItem, L"&Debug console");
            ::InsertMenuW(menu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        }
    }
    if (initialised_)
        initialised_();
}

INT_PTR Win32ControlWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_USER + 1: // UM_FRAME
        if (logic_)
            logic_->handleFrame(Win32MessageTarget::takeFrame(lParam));
        else
            Win32MessageTarget::takeFrame(lParam).reset();
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (!logic_)
            return FALSE;
        if ((code == CBN_SELCHANGE || code == CBN_CLOSEUP) && id == app::IDC_DISPLAY_MODE) {
            // Arrow keys in the open list send CBN_SELCHANGE at each step: the layout is
            // taken when the list closes, or the first step's new windows would take the
            // focus from the list and end the choice there.
            if (::SendDlgItemMessageW(window_, id, CB_GETDROPPEDSTATE, 0, 0))
                return TRUE;
            const auto index = ::SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0);
            logic_->displayModeSelected(index == CB_ERR ? -1 : static_cast<int>(index));
            return TRUE;
        }
        if (code == BN_CLICKED &&
            (id == app::IDC_RECORD || id == app::IDC_SCREENSHOT || id == app::IDC_VIDEO_SETTINGS ||
             id == app::IDC_AUDIO_SETTINGS || id == app::IDC_OUTPUT_FOLDER))
            logic_->command(id);
        return FALSE;
    }
    case WM_SYSCOMMAND:
        if (wParam == kDebugConsoleItem && logic_)
            logic_->handleMessage(*toCoreMessage(WM_SYSCOMMAND), wParam, 0);
        return FALSE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code != NM_CUSTOMDRAW)
            return FALSE;
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, drawIconButton(lParam));
        return TRUE;
    }
    case WM_DEVICECHANGE: {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (wParam == DBT_DEVICEARRIVAL && record && record->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
            record->dbch_size >= offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) && logic_) {
            const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            device::DeviceArrival arrival;
            std::memcpy(arrival.interfaceClass.bytes.data(), &iface->dbcc_classguid,
                        arrival.interfaceClass.bytes.size());
            // Only the board's class: switching devices for another would close an open board.
            if (arrival.interfaceClass == device::kTavrinInterfaceClass)
                logic_->deviceArrived(arrival);
        }
        return FALSE;
    }
    case kBoardArrivalMessage:
        if (logic_)
            logic_->deviceArrived(device::kBoardArrival);
        return TRUE;
    case WM_THEMECHANGED:
        openTheme();
        return TRUE;
    case WM_TIMER:
        if (wParam == kBlinkTimer) {
            if (logic_)
                logic_->blinkTimer();
        } else if (auto found = retries_.find(wParam); found != retries_.end()) {
            ::KillTimer(window_, wParam);
            std::function<void()> retry = std::move(found->second);
            retries_.erase(found);
            retry();
        }
        return TRUE;
    case kStatusTextMessage: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        ::SetDlgItemTextW(window_, app::IDC_STATUS, text->c_str());
        return TRUE;
    }
    case kUpdatePromptMessage: {
        std::unique_ptr<std::string> url(reinterpret_cast<std::string*>(lParam));
        if (::MessageBoxW(window_, widen(update::kUpdatePromptText).c_str(),
                          widen(update::kUpdatePromptCaption).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES)
            ::ShellExecuteW(window_, L"open", widen(*url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return TRUE;
    }
    case WM_DESTROY:
        // Frames still on their way go back to the pool; the loop ends with WM_QUIT.
        target_.setWindow(nullptr);
        Win32MessageTarget::dropQueuedFrames(window_);
        ::SetWindowLongPtrW(window_, DWLP_USER, 0);
        ::PostQuitMessage(0);
        return TRUE;
    default:
        break;
    }
    // The program's own messages (WM_CLOSE among them) are the logic's.
    if (const auto core = toCoreMessage(message); core && logic_)
        return logic_->handleMessage(*core, wParam, lParam) ? TRUE : FALSE;
    return FALSE;
}

void Win32ControlWindow::openTheme() {
    closeTheme();
    buttonTheme_ = ::OpenThemeData(window_, L"BUTTON");
}

void Win32ControlWindow::closeTheme() {
    if (buttonTheme_)
        ::CloseThemeData(static_cast<HTHEME>(buttonTheme_));
    buttonTheme_ = nullptr;
}

intptr_t Win32ControlWindow::drawIconButton(intptr_t customDraw) {
    auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(customDraw);
    HWND button = draw->hdr.hwndFrom;
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE);
    if (!(style & BS_ICON) || !::IsAppThemed() || !::IsThemeActive() || !buttonTheme_)
        return CDRF_DODEFAULT;
    auto theme = static_cast<HTHEME>(buttonTheme_);
    if (draw->dwDrawStage == CDDS_PREERASE)
        ::DrawThemeParentBackground(button, draw->hdc, &draw->rc);
    if (draw->dwDrawStage != CDDS_PREERASE && draw->dwDrawStage != CDDS_PREPAINT)
        return CDRF_DODEFAULT;

    ButtonLook look;
    look.disabled = (style & WS_DISABLED) != 0;
    look.selected = (draw->uItemState & CDIS_SELECTED) != 0;
    look.pushLikeChecked = (style & BS_PUSHLIKE) &&
                           ::SendMessageW(button, BM_GETCHECK, 0, 0) == static_cast<LRESULT>(BST_CHECKED);
    look.hot = (draw->uItemState & CDIS_HOT) != 0;
    look.defaultButton = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    look.focused = (draw->uItemState & CDIS_FOCUS) != 0;
    const int state = pushButtonState(look);
    ::DrawThemeBackground(theme, draw->hdc, BP_PUSHBUTTON, state, &draw->rc, nullptr);
    RECT content = draw->rc;
    ::GetThemeBackgroundContentRect(theme, draw->hdc, BP_PUSHBUTTON, state, &draw->rc, &content);

    auto icon = reinterpret_cast<HICON>(::SendMessageW(button, BM_GETIMAGE, IMAGE_ICON, 0));
    const IconOrigin at = centredIcon(content.left, content.top, content.right - content.left,
                                      content.bottom - content.top, kIconSize);
    ::DrawStateW(draw->hdc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, at.x, at.y, kIconSize,
                 kIconSize, DST_ICON | (look.disabled ? DSS_DISABLED : 0));
    if (look.focused)
        ::DrawFocusRect(draw->hdc, &content);
    return CDRF_SKIPDEFAULT;
}

void Win32ControlWindow::setStatusText(const std::string& text) {
    if (!window_)
        return;
    if (::GetCurrentThreadId() == thread_) {
        ::SetDlgItemTextW(window_, app::IDC_STATUS, widen(text).c_str());
        return;
    }
    // From a worker: handed to the window's thread (dropped if the window is gone by then).
    auto* wide = new std::wstring(widen(text));
    if (!::PostMessageW(window_, kStatusTextMessage, 0, reinterpret_cast<LPARAM>(wide)))
        delete wide;
}

void Win32ControlWindow::setRecordIcon(app::RecordIcon icon) {
    HICON image = icon == app::RecordIcon::Active ? iconRecordActive_ : iconRecordIdle_;
    ::SendDlgItemMessageW(window_, app::IDC_RECORD, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(image));
}

void Win32ControlWindow::setRecordChecked(bool checked) {
    ::CheckDlgButton(window_, app::IDC_RECORD, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32ControlWindow::setSettingsControlsEnabled(bool enabled) {
    for (int id : {app::IDC_VIDEO_SETTINGS, app::IDC_AUDIO_SETTINGS, app::IDC_DISPLAY_MODE})
        ::EnableWindow(::GetDlgItem(window_, id), enabled);
}

void Win32ControlWindow::addDisplayModeItem(const std::string& text) {
    ::SendDlgItemMessageW(window_, app::IDC_DISPLAY_MODE, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(widen(text).c_str()));
}

void Win32ControlWindow::selectDisplayModeItem(int index) {
    ::SendDlgItemMessageW(window_, app::IDC_DISPLAY_MODE, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32ControlWindow::startBlinkTimer(std::chrono::milliseconds period) {
    ::SetTimer(window_, kBlinkTimer, static_cast<UINT>(period.count()), nullptr);
}

void Win32ControlWindow::stopBlinkTimer() {
    ::KillTimer(window_, kBlinkTimer);
}

void Win32ControlWindow::focusStatusLine() {
    ::PostMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(window_, app::IDC_STATUS)),
                   TRUE);
}

void Win32ControlWindow::destroyWindow() {
    ::KillTimer(window_, kBlinkTimer);
    for (const auto& retry : retries_)
        ::KillTimer(window_, retry.first);
    retries_.clear();
    ::DestroyWindow(window_);
}

void Win32ControlWindow::postQuit(int exitCode) {
    ::PostQuitMessage(exitCode);
}

void Win32ControlWindow::retryLater(std::function<void()> retry, std::chrono::milliseconds delay) {
    const UINT_PTR id = nextRetryTimer_++;
    retries_.emplace(id, std::move(retry));
    ::SetTimer(window_, id, static_cast<UINT>(delay.count()), nullptr);
}

void Win32ControlWindow::offerUpdate(const std::string& url) {
    // From the update check's thread: the question is asked on the window's.
    auto* copy = new std::string(url);
    if (!window_ || !::PostMessageW(window_, kUpdatePromptMessage, 0, reinterpret_cast<LPARAM>(copy)))
        delete copy;
}

} // namespace tavrin::win32
