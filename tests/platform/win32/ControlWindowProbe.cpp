// SPDX-License-Identifier: GPL-2.0-or-later
// For the program tests under Wine: waits for the running program's control window
// and prints what a user reads on it, one "name=value" line each:
//   title=..., status=..., layout=... (the list's selected item), and where a user
//   clicks: record=X Y, camera=X Y, audio=X Y, statusline=X Y, list=X Y and folder=X Y
//   (centres on the screen)
// Run as: tavrin_win32_probe.exe [seconds to wait, default 20] [status text to wait for]
// or as: tavrin_win32_probe.exe dialog CAPTION, which prints ok=X Y and cancel=X Y, the
// centres of that dialog's OK and Cancel buttons.
// Exit code 0 when the window was found (and the status came), 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

std::string utf8(const wchar_t* wide) {
    char text[2048] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// WM_GETTEXT crosses into the program's process; a time limit keeps a hung program from hanging us.
std::string textOf(HWND window) {
    wchar_t text[520] = {};
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, 520, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                          &copied);
    return utf8(text);
}

void printCentre(const char* name, HWND control) {
    RECT box{};
    ::GetWindowRect(control, &box);
    std::printf("%s=%ld %ld\n", name, (box.left + box.right) / 2, (box.top + box.bottom) / 2);
}

int dialogButtons(const char* caption) {
    wchar_t wide[128] = {};
    ::MultiByteToWideChar(CP_UTF8, 0, caption, -1, wide, 127);
    HWND dialog = ::FindWindowW(L"#32770", wide);
    if (!dialog) {
        std::puts("no such dialog");
        return 1;
    }
    printCentre("ok", ::GetDlgItem(dialog, IDOK));
    printCentre("cancel", ::GetDlgItem(dialog, IDCANCEL));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "dialog")
        return dialogButtons(argv[2]);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::string wanted = argc > 2 ? argv[2] : "";
    HWND window = nullptr;
    std::string status;
    std::string title;
    for (int i = 0; i < seconds * 10; ++i) {
        window = ::FindWindowW(L"TavrinCapture ControlWindow", nullptr);
        if (window) {
            status = textOf(::GetDlgItem(window, 1009));
            // A program too busy to answer in time reads as empty: ask again.
            title = textOf(window);
            if ((wanted.empty() || status == wanted) && !title.empty())
                break;
        }
        ::Sleep(100);
    }
    if (!window) {
        std::puts("no control window");
        return 1;
    }
    std::printf("title=%s\n", title.c_str());
    std::printf("status=%s\n", status.c_str());
    HWND list = ::GetDlgItem(window, 1033);
    const auto selected = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
    wchar_t item[128] = {};
    if (selected >= 0 && ::SendMessageW(list, CB_GETLBTEXTLEN, selected, 0) < 128)
        ::SendMessageW(list, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(item));
    std::printf("layout=%s\n", utf8(item).c_str());
    printCentre("record", ::GetDlgItem(window, 1000));
    printCentre("camera", ::GetDlgItem(window, 1005));
    printCentre("audio", ::GetDlgItem(window, 1018));
    printCentre("statusline", ::GetDlgItem(window, 1009));
    printCentre("list", list);
    printCentre("folder", ::GetDlgItem(window, 1029));
    return wanted.empty() || status == wanted ? 0 : 1;
}
