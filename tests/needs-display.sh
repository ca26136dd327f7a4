#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a test program that opens windows on an X server. Without one it reports the
# test as skipped (exit status 77, the tests' SKIP_RETURN_CODE) and says why, instead
# of letting Qt abort; scripts/test-env.sh provides a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  echo "skipped: no X server (DISPLAY is not set); run under scripts/test-env.sh"
  exit 77
fi
exec "$@"
