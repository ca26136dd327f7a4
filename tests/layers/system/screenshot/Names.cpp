// SPDX-License-Identifier: GPL-2.0-or-later
// A core file calling the system directly, which the layer check refuses.
#include <sys/stat.h>
