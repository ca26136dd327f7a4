// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Dialogs.h"

#include "app/CaptureApp.h"
#include "device/UsbTransport.h"
#include "platform/win32/Win32NoMedia.h"
#include "platform/win32/Win32PngEncoder.h"
#include "platform/win32/Win32Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

namespace {

using namespace tavrin;

using device::NoBoards;

std::wstring textOf(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

std::vector<std::wstring> listItems(HWND list) {
    std::vector<std::wstring> items;
    const auto count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[256] = {};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        items.emplace_back(item);
    }
    return items;
}

// Runs `inside` once the modal dialog of this thread is up (from a timer its loop
// dispatches), then lets `dialog.run` return its result.
std::function<void(HWND)> insideDialog;
void CALLBACK onTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = ::GetActiveWindow();
    if (!dialog)
        return;
    ::KillTimer(nullptr, timer);
    insideDialog(dialog);
}

intptr_t runWith(win32::Win32ModalDialog& dialog, int id, std::function<void(HWND)> inside) {
    insideDialog = std::move(inside);
    ::SetTimer(nullptr, 0, 50, onTimer);
    return dialog.run(::GetModuleHandleW(nullptr), nullptr, id);
}

void press(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

TEST(Win32AudioSettingsDialog, OkStoresTheChosenItemsCancelAndCloseStoreNothing) {
    struct Case {
        const char* name;
        bool close; // WM_CLOSE instead of a button
        int button;
        intptr_t result;
        const char* sourceAfter;
    };
    const Case cases[] = {
        {"OK", false, IDOK, 1, "(no sound)"},
        {"Cancel", false, IDCANCEL, 0, "Old input"},
        {"close box", true, 0, 0, "Old input"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        base::Settings settings;
        settings.audioSource.assign("Old input");
        settings.audioCompressor.assign("Old compressor");
        win32::Win32NoMedia media;
        int soundSettingsOpened = 0;
        win32::Win32AudioSettingsDialog dialog(settings, media, [&](HWND) { soundSettingsOpened++; });
        std::vector<std::wstring> sources, compressors;
        bool compressorEnabled = true;
        std::wstring caption;
        const intptr_t result = runWith(dialog, IDD_AUDIO_SETTINGS, [&](HWND window) {
            caption = textOf(window);
            sources = listItems(::GetDlgItem(window, 1033));
            compressors = listItems(::GetDlgItem(window, 1040));
            compressorEnabled = ::IsWindowEnabled(::GetDlgItem(window, 1040));
            ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(1034, BN_CLICKED), 0);
            if (c.close)
                ::PostMessageW(window, WM_CLOSE, 0, 0);
            else
                press(window, c.button);
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(caption, L"Audio Settings");
        EXPECT_EQ(sources, std::vector<std::wstring>{L"(no sound)"});
        EXPECT_TRUE(compressors.empty());
        EXPECT_FALSE(compressorEnabled);
        EXPECT_EQ(soundSettingsOpened, 1);
        EXPECT_EQ(settings.audioSource.utf8(), c.sourceAfter);
        // No compressor to choose: OK empties the name, the others keep it.
        EXPECT_EQ(settings.audioCompressor.utf8(), c.result == 1 ? "" : "Old compressor");
    }
}

TEST(Win32VideoCodecDialog, ScreensAreStoredOnOkOnlyAndTheFrameRateAtOnce) {
    struct Case {
        const char* name;
        int button;
        intptr_t result;
        uint32_t screensAfter;
    };
    const Case cases[] = {{"OK", IDOK, 1, 1}, {"Cancel", IDCANCEL, 0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        base::Settings settings;
        settings.recordScreens = 2;
        settings.recordFps = 25; // none of the choices: shown and kept as 30
        win32::Win32NoMedia media;
        win32::Win32VideoCodecDialog dialog(settings, media);
        bool bottomOnOpen = false, qualityEnabled = true, configureEnabled = true;
        std::wstring fpsOnOpen, fpsAfterSlider, caption;
        LRESULT fpsPosition = -1;
        const intptr_t result = runWith(dialog, IDD_VIDEO_CODEC, [&](HWND window) {
            caption = textOf(window);
            bottomOnOpen = ::IsDlgButtonChecked(window, 1050) == BST_CHECKED;
            fpsOnOpen = textOf(::GetDlgItem(window, 1045));
            fpsPosition = ::SendDlgItemMessageW(window, 1044, TBM_GETPOS, 0, 0);
            qualityEnabled = ::IsWindowEnabled(::GetDlgItem(window, 1036));
            configureEnabled = ::IsWindowEnabled(::GetDlgItem(window, 1034));
            // The user picks "Top" and drags the frame rate to its last stop.
            ::SendDlgItemMessageW(window, 1051, BM_CLICK, 0, 0);
            HWND fps = ::GetDlgItem(window, 1044);
            ::SendMessageW(fps, TBM_SETPOS, TRUE, 2);
            ::SendMessageW(window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 2),
                           reinterpret_cast<LPARAM>(fps));
            fpsAfterSlider = textOf(::GetDlgItem(window, 1045));
            press(window, c.button);
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(caption, L"Video Codec");
        EXPECT_TRUE(bottomOnOpen);
        EXPECT_EQ(fpsOnOpen, L"30");
        EXPECT_EQ(fpsPosition, 1);
        EXPECT_FALSE(qualityEnabled);
        EXPECT_FALSE(configureEnabled);
        EXPECT_EQ(fpsAfterSlider, L"60");
        EXPECT_EQ(settings.recordFps, 60);
        EXPECT_EQ(settings.recordScreens, c.screensAfter);
    }
}

TEST(Win32FirmwareDialog, CancelEndsWithZeroAndTheBoardComingBackWithOne) {
    NoBoards boards;
    device::NoModifierKeys keys;
    app::CaptureApp app{boards, keys};
    {
        win32::Win32FirmwareDialog dialog(app);
        std::wstring caption, start, cancel;
        bool hasSystemMenu = true;
        const intptr_t result = runWith(dialog, IDD_FIRMWARE, [&](HWND window) {
            caption = textOf(window);
            start = textOf(::GetDlgItem(window, IDOK));
            cancel = textOf(::GetDlgItem(window, IDCANCEL));
            hasSystemMenu = (::GetWindowLongW(window, GWL_STYLE) & WS_SYSMENU) != 0;
            press(window, IDCANCEL);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(caption, L"Firmware Update");
        EXPECT_EQ(start, L"Start");
        EXPECT_EQ(cancel, L"Cancel");
        EXPECT_FALSE(hasSystemMenu);
    }
    win32::Win32FirmwareDialog dialog(app);
    EXPECT_EQ(runWith(dialog, IDD_FIRMWARE, [&](HWND) { dialog.boardReady(); }), 1);
}

// Reads a PNG back with the imaging component: its pixels as red, green, blue.
std::vector<uint8_t> decodePng(const std::vector<uint8_t>& png, UINT& width, UINT& height) {
    std::vector<uint8_t> rgb;
    IWICImagingFactory* factory = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))))
        return rgb;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(
            stream->InitializeFromMemory(const_cast<BYTE*>(png.data()), static_cast<DWORD>(png.size()))) &&
        SUCCEEDED(
            factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&width, &height)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr,
                                        0.0, WICBitmapPaletteTypeCustom))) {
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
        if (SUCCEEDED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data()))) {
            rgb = bgr;
            for (size_t i = 0; i < rgb.size(); i += 3)
                std::swap(rgb[i], rgb[i + 2]);
        }
    }
    for (IUnknown* object : std::initializer_list<IUnknown*>{converter, frame, decoder, stream, factory})
        if (object)
            object->Release();
    return rgb;
}

uint32_t bigEndian(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

TEST(Win32PngEncoder, TheFileIsAnRgbPngThatDecodesToEveryPixelGiven) {
    // The decoder below needs the thread in an apartment; the encoder joins one itself.
    const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const unsigned width = 256, height = 384;
    std::vector<uint8_t> picture(width * height * 3);
    // Every channel different, so that a swap of red and blue or a shifted row shows.
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            uint8_t* p = &picture[(y * width + x) * 3];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y * 3);
            p[2] = static_cast<uint8_t>(x * 7 + y);
        }
    win32::Win32PngEncoder encoder;
    std::vector<uint8_t> png;
    ASSERT_EQ(encoder.encodeRgb(picture.data(), width, height, png), 0u);
    ASSERT_GT(png.size(), 33u);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
    // IHDR: width, height, bit depth 8, colour type 2 (RGB without alpha).
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(bigEndian(png, 16), width);
    EXPECT_EQ(bigEndian(png, 20), height);
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    UINT w = 0, h = 0;
    const std::vector<uint8_t> back = decodePng(png, w, h);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_TRUE(back == picture) << "the decoded pixels differ from those encoded";
    if (SUCCEEDED(joined))
        ::CoUninitialize();
}

} // namespace
