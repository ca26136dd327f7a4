// SPDX-License-Identifier: GPL-2.0-or-later
// Planted for the layer check: a core layer that includes a sound and camera server's header.
#include <pipewire/pipewire.h>
