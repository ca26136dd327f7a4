#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the scripts that run the Windows build under Wine: where wine64 and
# wineserver are, and wine_prefix, which makes a prefix ready for the tests.
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64="$(command -v wine64)"
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver="$(command -v wineserver)"
# Quiet, and without the .NET and HTML runtimes a fresh prefix would offer to install.
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# wine_prefix DIR [persistent]: DIR becomes WINEPREFIX (made the first time), with Wine's
# own services started now, before any program of ours keeps their output pipes open;
# with "persistent" its Wine server stays up until killed, so that each program starts
# in a fraction of a second.
wine_prefix() {
  export WINEPREFIX="$1"
  mkdir -p "$WINEPREFIX"
  [ "${2:-}" != persistent ] || "$wineserver" -p 2>/dev/null || true
  "$wine64" wineboot </dev/null >/dev/null 2>&1 || true
  # Wine's Direct3D draws on a thread of its own by default; with Debian 12's libX11
  # that thread and a window being shown on the program's thread can both end up
  # waiting for the X display's lock for ever (a dialog that never appears, seen about
  # once in twenty openings on a loaded machine). Drawing on the calling thread cannot.
  "$wine64" reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
}
