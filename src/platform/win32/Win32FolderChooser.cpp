// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32FolderChooser.h"

#include "platform/win32/Win32Text.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

namespace tavrin::win32 {

std::string Win32FolderChooser::chooseFolder(const std::string& title, const std::string& startFolder) {
    IFileDialog* dialog = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                  reinterpret_cast<void**>(&dialog))))
        return {};
    std::string chosen;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(widen(title).c_str());
    if (!startFolder.empty()) {
        IShellItem* start = nullptr;
        if (SUCCEEDED(::SHCreateItemFromParsingName(widen(startFolder).c_str(), nullptr, IID_IShellItem,
                                                    reinterpret_cast<void**>(&start)))) {
            dialog->SetFolder(start);
            start->Release();
        }
    }
    if (SUCCEEDED(dialog->Show(owner_ ? owner_() : nullptr))) {
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->GetResult(&result))) {
            wchar_t* path = nullptr;
            if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
                chosen = narrow(path);
                ::CoTaskMemFree(path);
            }
            result->Release();
        }
    }
    dialog->Release();
    return chosen;
}

} // namespace tavrin::win32
