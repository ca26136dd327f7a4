// SPDX-License-Identifier: GPL-2.0-or-later
// Resource numbers, shared by tavrin_capture.rc and the code (plain defines, which
// the resource compiler reads too).
#pragma once

#define IDD_VIDEO_CODEC 9
#define IDI_PROGRAM 101
#define IDD_CONTROL_WINDOW 102
#define IDD_AUDIO_SETTINGS 103
#define IDI_RECORD_IDLE 106
#define IDI_RECORD_ACTIVE 107
#define IDI_SCREENSHOT 108
#define IDD_FIRMWARE 111
