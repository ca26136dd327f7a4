// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Dialogs.h"

#include "platform/win32/Win32Text.h"

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

namespace tavrin::win32 {

namespace {

// Control ids of the three dialogs, as their templates give them.
constexpr int IDC_CODEC_LIST = 1002;
constexpr int IDC_ABOUT = 1029;
constexpr int IDC_CONFIGURE = 1034;
constexpr int IDC_QUALITY = 1036;
constexpr int IDC_QUALITY_VALUE = 1038;
constexpr int IDC_QUALITY_LABEL = 1039;
constexpr int IDC_FPS = 1044;
constexpr int IDC_FPS_VALUE = 1045;
constexpr int IDC_BOTTOM_SCREEN = 1050;
constexpr int IDC_TOP_SCREEN = 1051;
constexpr int IDC_BOTH_SCREENS = 1052;
constexpr int IDC_AUDIO_SOURCE = 1033;
constexpr int IDC_CONTROL_PANEL = 1034;
constexpr int IDC_AUDIO_COMPRESSOR = 1040;
constexpr int IDC_FIRMWARE_PROGRESS = 1053;

// The firmware worker's progress (wParam: per mille) and result (wParam: the code).
constexpr UINT kFirmwareProgress = WM_APP + 11;
constexpr UINT kFirmwareFinished = WM_APP + 12;

void fillList(HWND dialog, int id, const std::vector<std::string>& items) {
    HWND list = ::GetDlgItem(dialog, id);
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const auto& item : items)
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
}

int listSelection(HWND dialog, int id) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void setText(HWND dialog, int id, const std::string& text) {
    ::SetDlgItemTextW(dialog, id, widen(text).c_str());
}

void enable(HWND dialog, int id, bool enabled) {
    ::EnableWindow(::GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

} // namespace

intptr_t Win32ModalDialog::run(HINSTANCE instance, HWND owner, int id) {
    return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(id), owner, dialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void Win32ModalDialog::end(intptr_t result) {
    ::EndDialog(window_, result);
}

INT_PTR CALLBACK Win32ModalDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32ModalDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->onInit();
        return TRUE;
    }
    auto* self = reinterpret_cast<Win32ModalDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_COMMAND) {
        self->onCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    // The close box and Alt+F4 as Cancel, as Escape already is.
    if (message == WM_CLOSE) {
        self->onCommand(IDCANCEL, BN_CLICKED);
        return TRUE;
    }
    return self->onMessage(message, wParam, lParam) ? TRUE : FALSE;
}

// --- Video Codec ---

void Win32VideoCodecDialog::onInit() {
    ::SendDlgItemMessageW(window_, IDC_QUALITY, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    ::SendDlgItemMessageW(window_, IDC_FPS, TBM_SETRANGE, TRUE,
                          MAKELPARAM(0, static_cast<int>(record::fpsChoices.size()) - 1));
    logic_.onOpen();
}

void Win32VideoCodecDialog::onCommand(int id, int code) {
    switch (id) {
    case IDC_CODEC_LIST:
        if (code == CBN_SELCHANGE)
            logic_.onCodecSelected();
        break;
    case IDC_CONFIGURE:
        logic_.onConfigure();
        break;
    case IDC_ABOUT:
        logic_.onAbout();
        break;
    // 1 and 0, not IDOK and IDCANCEL: whoever opened it reads any result above 0 as OK.
    case IDOK:
        logic_.onOk();
        end(1);
        break;
    case IDCANCEL:
        logic_.onCancel();
        end(0);
        break;
    default:
        break;
    }
}

bool Win32VideoCodecDialog::onMessage(unsigned message, uintptr_t, intptr_t lParam) {
    if (message != WM_HSCROLL || !lParam)
        return false;
    HWND slider = reinterpret_cast<HWND>(lParam);
    const int position = static_cast<int>(::SendMessageW(slider, TBM_GETPOS, 0, 0));
    switch (::GetDlgCtrlID(slider)) {
    case IDC_QUALITY:
        logic_.onQualitySlider(position);
        return true;
    case IDC_FPS:
        logic_.onFpsSlider(position);
        return true;
    default:
        return false;
    }
}

void Win32VideoCodecDialog::setCodecItems(const std::vector<std::string>& items) {
    fillList(window_, IDC_CODEC_LIST, items);
}

void Win32VideoCodecDialog::setCodecSelection(int index) {
    ::SendDlgItemMessageW(window_, IDC_CODEC_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32VideoCodecDialog::codecSelection() const {
    return listSelection(window_, IDC_CODEC_LIST);
}

void Win32VideoCodecDialog::setQuality(int position, const std::string& text, bool enabled) {
    ::SendDlgItemMessageW(window_, IDC_QUALITY, TBM_SETPOS, TRUE, position);
    setText(window_, IDC_QUALITY_VALUE, text);
    for (int id : {IDC_QUALITY, IDC_QUALITY_VALUE, IDC_QUALITY_LABEL})
        enable(window_, id, enabled);
}

int Win32VideoCodecDialog::qualityPosition() const {
    return static_cast<int>(::SendDlgItemMessageW(window_, IDC_QUALITY, TBM_GETPOS, 0, 0));
}

void Win32VideoCodecDialog::setFps(int position, const std::string& text) {
    ::SendDlgItemMessageW(window_, IDC_FPS, TBM_SETPOS, TRUE, position);
    setText(window_, IDC_FPS_VALUE, text);
}

void Win32VideoCodecDialog::enableConfigure(bool enabled) {
    enable(window_, IDC_CONFIGURE, enabled);
}

void Win32VideoCodecDialog::enableAbout(bool enabled) {
    enable(window_, IDC_ABOUT, enabled);
}

void Win32VideoCodecDialog::setScreens(uint32_t screens) {
    static constexpr int ids[] = {IDC_BOTH_SCREENS, IDC_TOP_SCREEN, IDC_BOTTOM_SCREEN};
    ::CheckRadioButton(window_, IDC_BOTTOM_SCREEN, IDC_BOTH_SCREENS, ids[screens < 3 ? screens : 0]);
}

bool Win32VideoCodecDialog::topChecked() const {
    return ::IsDlgButtonChecked(window_, IDC_TOP_SCREEN) == BST_CHECKED;
}

bool Win32VideoCodecDialog::bottomChecked() const {
    return ::IsDlgButtonChecked(window_, IDC_BOTTOM_SCREEN) == BST_CHECKED;
}

// --- Audio Settings ---

void Win32AudioSettingsDialog::onInit() {
    logic_.onOpen();
}

void Win32AudioSettingsDialog::onCommand(int id, int) {
    switch (id) {
    case IDC_CONTROL_PANEL:
        if (openSoundSettings_)
            openSoundSettings_(window_);
        break;
    case IDOK:
        logic_.onOk();
        end(1);
        break;
    case IDCANCEL:
        end(0);
        break;
    default:
        break;
    }
}

void Win32AudioSettingsDialog::setSourceItems(const std::vector<std::string>& items) {
    fillList(window_, IDC_AUDIO_SOURCE, items);
}

void Win32AudioSettingsDialog::setSourceSelection(int index) {
    ::SendDlgItemMessageW(window_, IDC_AUDIO_SOURCE, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32AudioSettingsDialog::sourceSelection() const {
    return listSelection(window_, IDC_AUDIO_SOURCE);
}

void Win32AudioSettingsDialog::setCompressorItems(const std::vector<std::string>& items) {
    fillList(window_, IDC_AUDIO_COMPRESSOR, items);
}

void Win32AudioSettingsDialog::setCompressorSelection(int index) {
    ::SendDlgItemMessageW(window_, IDC_AUDIO_COMPRESSOR, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32AudioSettingsDialog::compressorSelection() const {
    return listSelection(window_, IDC_AUDIO_COMPRESSOR);
}

// --- Firmware ---

void Win32FirmwareDialog::onInit() {
    ::SendDlgItemMessageW(window_, IDC_FIRMWARE_PROGRESS, PBM_SETRANGE32, 0, 1000);
    logic_.init();
    ::SetFocus(::GetDlgItem(window_, IDOK));
}

void Win32FirmwareDialog::onCommand(int id, int) {
    if (id == IDOK)
        logic_.start();
    else if (id == IDCANCEL)
        logic_.cancel();
}

bool Win32FirmwareDialog::onMessage(unsigned message, uintptr_t wParam, intptr_t) {
    if (message == kFirmwareProgress) {
        ::SendDlgItemMessageW(window_, IDC_FIRMWARE_PROGRESS, PBM_SETPOS, wParam, 0);
        return true;
    }
    if (message == kFirmwareFinished) {
        logic_.workerFinished(static_cast<int>(static_cast<intptr_t>(wParam)));
        return true;
    }
    return false;
}

// From the worker, which holds the application lock: posted, never sent, as the
// dialog's thread may be waiting for that lock.
void Win32FirmwareDialog::setProgress(int perMille) {
    ::PostMessageW(window_, kFirmwareProgress, static_cast<WPARAM>(perMille), 0);
}

void Win32FirmwareDialog::postWorkerFinished(int code) {
    ::PostMessageW(window_, kFirmwareFinished, static_cast<WPARAM>(static_cast<intptr_t>(code)), 0);
}

void Win32FirmwareDialog::showFailure(const std::string& caption) {
    ::MessageBoxW(window_, L"Failed!", widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

void Win32FirmwareDialog::setStartText(const std::string& text) {
    setText(window_, IDOK, text);
}

void Win32FirmwareDialog::setButtonsEnabled(bool enabled) {
    enable(window_, IDOK, enabled);
    enable(window_, IDCANCEL, enabled);
}

void Win32FirmwareDialog::endDialog(int result) {
    end(result);
}

bool openSoundSettings(HWND owner) {
    // The Sound control panel on its Recording page: there on every Windows version.
    const auto started = reinterpret_cast<intptr_t>(
        ::ShellExecuteW(owner, L"open", L"control.exe", L"mmsys.cpl,,1", nullptr, SW_SHOWNORMAL));
    return started > 32;
}

} // namespace tavrin::win32
