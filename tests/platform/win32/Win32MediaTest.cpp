// SPDX-License-Identifier: GPL-2.0-or-later
// The media library of the Windows build under Wine, with a sound server behind WASAPI
// and a 440 Hz tone playing into it (scripts/win32-recording-test.sh).
#include "platform/media/FfmpegPlatform.h"
#include "platform/media/SoundInput.h"
#include "record/MediaTypes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

using namespace tavrin;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> names(media::FfmpegPlatform& platform, const record::GUID& category) {
    std::vector<record::DeviceMoniker> devices;
    platform.CreateClassEnumerator(category, &devices);
    std::vector<std::string> out;
    for (const auto& device : devices)
        out.push_back(device.friendlyName.value_or(""));
    return out;
}

TEST(Win32Media, TheVideoCodecDialogListsEveryEncoderTheBuildHasInTheCatalogsOrder) {
    media::FfmpegPlatform platform;
    // FFmpeg for Windows is built with these and nothing more (no x264).
    EXPECT_EQ(names(platform, record::CLSID_VideoCompressorCategory),
              (std::vector<std::string>{"Microsoft Video 1", "FFV1 (lossless)", "HuffYUV (lossless)",
                                        "Ut Video (lossless)", "MPEG-4 Part 2", "Motion JPEG"}));
    EXPECT_EQ(names(platform, record::CLSID_AudioCompressorCategory), std::vector<std::string>{"PCM"});
}

TEST(Win32Media, TheCaptureEndpointsAreTheSoundInputsByTheirNames) {
    const media::FfmpegPlatform::SoundInputs found = media::FfmpegPlatform::probeSoundInputs();
    ASSERT_TRUE(found.serverAnswered) << "the endpoint enumerator did not answer";
    ASSERT_FALSE(found.devices.empty()) << "no capture endpoint: is the sound server running?";
    std::set<std::string> ids;
    for (const media::AudioDevice& device : found.devices) {
        EXPECT_EQ(device.inputFormat, "wasapi");
        EXPECT_FALSE(device.dummy);
        EXPECT_TRUE(ids.insert(device.deviceName).second)
            << "one endpoint listed twice: " << device.deviceName;
        EXPECT_FALSE(device.description.empty());
        EXPECT_NE(device.description, device.deviceName) << "the friendly name, not the endpoint's id";
    }
    // Wine 8's winepulse offers one capture endpoint, the server's default source, by the
    // name "PulseAudio" (what the Audio Settings dialog lists first).
    std::printf("capture endpoints:");
    for (const media::AudioDevice& device : found.devices)
        std::printf(" \"%s\"", device.description.c_str());
    std::printf("\n");

    media::FfmpegPlatform platform;
    std::vector<std::string> descriptions;
    for (const media::AudioDevice& device : found.devices)
        descriptions.push_back(device.description);
    EXPECT_EQ(names(platform, record::CLSID_AudioInputDeviceCategory), descriptions);
    EXPECT_TRUE(platform.soundServerAnswers());
    EXPECT_EQ(platform.soundProblem(), "");
}

TEST(Win32Media, AnEndpointGivesTheToneAtFortyEightKilohertzStereoFromItsFirstPacket) {
    const auto found = media::FfmpegPlatform::probeSoundInputs();
    ASSERT_FALSE(found.devices.empty());
    auto input = media::openSoundInput(found.devices.front());
    ASSERT_TRUE(input) << input.error().text;

    std::vector<uint8_t> bytes;
    std::string error;
    const auto start = Clock::now();
    // The first sound comes some 0.65 s after the start under Wine.
    while (bytes.empty() && Clock::now() - start < std::chrono::seconds(3)) {
        const auto read = (*input)->read(bytes, error);
        ASSERT_NE(read, media::SoundInput::Read::Failed) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(bytes.empty()) << "nothing in 3 s";
    bytes.clear();
    const auto counting = Clock::now();
    while (Clock::now() - counting < std::chrono::seconds(2)) {
        ASSERT_NE((*input)->read(bytes, error), media::SoundInput::Read::Failed) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - counting).count();
    ASSERT_EQ(bytes.size() % 4, 0u) << "whole 16-bit stereo samples";
    const auto* samples = reinterpret_cast<const int16_t*>(bytes.data());
    const std::size_t count = bytes.size() / 4;
    // Converted to the pin's rate, whatever the endpoint's own (44.1 kHz under Wine).
    EXPECT_NEAR(static_cast<double>(count), elapsed * 48000, elapsed * 48000 * 0.1);
    // The tone, on both channels, with its crossings 440 times a second at 48 kHz.
    int peakLeft = 0, peakRight = 0;
    std::size_t crossings = 0;
    for (std::size_t i = 0; i < count; ++i) {
        peakLeft = std::max(peakLeft, std::abs(static_cast<int>(samples[2 * i])));
        peakRight = std::max(peakRight, std::abs(static_cast<int>(samples[2 * i + 1])));
        if (i > 0 && (samples[2 * i - 2] < 0) != (samples[2 * i] < 0))
            ++crossings;
    }
    EXPECT_GT(peakLeft, 3000);
    EXPECT_GT(peakRight, 3000);
    EXPECT_NEAR(static_cast<double>(crossings) / 2 / (static_cast<double>(count) / 48000), 440.0, 5.0);
}

TEST(Win32Media, AnInputOfAnotherSystemIsRefusedAndAnEndpointThatIsGoneFailsOnReading) {
    media::AudioDevice pulse{"pulse", "tavrin_null.monitor", "Monitor", false};
    EXPECT_FALSE(media::openSoundInput(pulse));
    media::AudioDevice gone{"wasapi", "{0.0.1.00000000}.{00000000-0000-0000-0000-000000000000}", "Gone",
                            false};
    auto input = media::openSoundInput(gone);
    ASSERT_TRUE(input);
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_EQ((*input)->read(bytes, error), media::SoundInput::Read::Failed);
    EXPECT_NE(error.find("GetDevice"), std::string::npos) << error;
}

} // namespace
