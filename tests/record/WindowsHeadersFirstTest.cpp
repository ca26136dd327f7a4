// SPDX-License-Identifier: GPL-2.0-or-later
// Windows' headers first, then the record layer's: where the system defines a name as
// a macro, the layer's code compiles with it.
#ifdef _WIN32

#include <windows.h>

#include <dshow.h>

#include "base/Settings.h"
#include "record/AudioSettingsDialogLogic.h"
#include "record/AudioTimeline.h"
#include "record/BaseFilter.h"
#include "record/CCapturePin.h"
#include "record/CapturePinCategory.h"
#include "record/CompressorDialogHost.h"
#include "record/DeviceEnum.h"
#include "record/ITavrinCaptureApp.h"
#include "record/ListText.h"
#include "record/MediaInterfaces.h"
#include "record/MediaPlatform.h"
#include "record/MediaSample.h"
#include "record/MediaTypes.h"
#include "record/MemAllocator.h"
#include "record/NoRecording.h"
#include "record/PcmFilter.h"
#include "record/RecordedArea.h"
#include "record/Recorder.h"
#include "record/RecordingControl.h"
#include "record/RecordingDialogs.h"
#include "record/RecordingGraph.h"
#include "record/RecordingSink.h"
#include "record/ReferenceClock.h"
#include "record/SampleReceiver.h"
#include "record/SourceStream.h"
#include "record/TavrinFilter.h"
#include "record/VideoCodecDialogLogic.h"

#include <gtest/gtest.h>

TEST(WindowsHeaders, TheRecordLayerCompilesAfterThem) {
    namespace rec = tavrin::record;
    rec::HRESULT result = E_INVALIDARG; // the system's macro, within the layer's type
    EXPECT_TRUE(FAILED(result));
}

#endif
