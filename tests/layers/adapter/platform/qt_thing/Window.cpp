// SPDX-License-Identifier: GPL-2.0-or-later
// Planted for the layer check: an adapter that reaches into another adapter.
#include "platform/qt_thing/Window.h"
#include "platform/media/AviMux.h"
