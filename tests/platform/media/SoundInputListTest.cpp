// SPDX-License-Identifier: GPL-2.0-or-later
// The platform's list of sound inputs: looked for once (ALSA's listing opens every
// possible card in one burst) and kept for every use until the inputs may have changed.
#include "platform/media/FfmpegPlatform.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::record;
using media::AudioDevice;
using media::FfmpegPlatform;

namespace {

std::vector<std::string> names(const std::vector<DeviceMoniker>& devices) {
    std::vector<std::string> out;
    for (const DeviceMoniker& d : devices)
        out.push_back(d.friendlyName.value_or("?") + (d.dummy ? " (dummy)" : ""));
    return out;
}

TEST(SoundInputList, LookedForOnceAndAgainOnlyWhenTheInputsMayHaveChanged) {
    // No sound server, ALSA's plugins only: what the emulated board's tests meet.
    FfmpegPlatform::SoundInputs system;
    system.devices = {{"alsa", "null", "Discard all samples", true}};
    int looks = 0;
    FfmpegPlatform::Options options;
    options.probeSound = [&] {
        ++looks;
        return system;
    };
    FfmpegPlatform platform(nullptr, options);
    EXPECT_EQ(looks, 0) << "nothing is looked for before it is needed";

    std::vector<DeviceMoniker> devices;
    EXPECT_EQ(platform.CreateClassEnumerator(CLSID_VideoCompressorCategory, &devices), S_OK);
    EXPECT_EQ(looks, 0) << "the compressors need no sound input";
    // What three recordings ask, one after the other: the list, and why it has no real input.
    for (int recording = 0; recording < 3; ++recording) {
        EXPECT_EQ(platform.CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &devices), S_OK);
        EXPECT_EQ(names(devices), std::vector<std::string>{"Discard all samples (dummy)"});
        EXPECT_EQ(platform.soundProblem(), "no sound server is running");
    }
    EXPECT_EQ(looks, 1);

    // A sound card plugged in is seen once the platform is told, and not before.
    system.devices.insert(system.devices.begin(),
                          AudioDevice{"alsa", "hw:CARD=Headset,DEV=0", "Headset", false});
    EXPECT_EQ(platform.CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &devices), S_OK);
    EXPECT_EQ(devices.size(), 1u) << "the list kept";
    platform.soundInputsMayHaveChanged();
    EXPECT_EQ(looks, 1) << "told, but looked for only when needed";
    EXPECT_EQ(platform.soundProblem(), "") << "a card to record from";
    EXPECT_EQ(platform.CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &devices), S_OK);
    EXPECT_EQ(names(devices), (std::vector<std::string>{"Headset", "Discard all samples (dummy)"}));
    EXPECT_EQ(looks, 2);

    // A sound server that answers with no inputs: nothing to list, and nothing in the way.
    system = {};
    system.serverAnswered = true;
    platform.soundInputsMayHaveChanged();
    EXPECT_EQ(platform.CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &devices), S_FALSE);
    EXPECT_EQ(platform.soundProblem(), "");
    EXPECT_EQ(looks, 3);
}

} // namespace
