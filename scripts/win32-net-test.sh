#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The update check's request through WinINet under wine64, against real HTTPS servers
# running beside Wine (tests/platform/net/https_test_server.py): a certificate authority
# made here for this run only, "local" (a certificate for localhost from it),
# "elsewhere" (one for elsewhere.test from it) and "stranger" (one for localhost from a
# second authority that nobody trusts). The test program trusts the first authority in
# its prefix's user Root store while it runs, and finds everything through
# TAVRIN_HTTPS_TEST_DIR. Needs no X server; runs in WINEPREFIX when it is set (and its
# Wine server when one runs), else in a prefix of its own beside the build.
#   win32-net-test.sh BUILD_DIR   (the core's build folder of ci-windows.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
work="$build/net-test"
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_prefix "$build/net-test-prefix"

rm -rf "$work"
mkdir -p "$work/pki"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

authority() { # NAME: a self-signed authority
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=Tavrin Capture test $1" -keyout "$work/pki/$1.key" -out "$work/pki/$1.pem" 2>/dev/null
}
server() { # NAME DNS-NAME AUTHORITY: its certificate, then the server itself
  local name="$1" host="$2" ca="$3"
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$host" >"$work/pki/$name.ext"
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$host" \
    -keyout "$work/pki/$name.key" -out "$work/pki/$name.csr" 2>/dev/null
  openssl x509 -req -days 2 -in "$work/pki/$name.csr" -CA "$work/pki/$ca.pem" -CAkey "$work/pki/$ca.key" \
    -CAcreateserial -extfile "$work/pki/$name.ext" -out "$work/pki/$name.pem" 2>/dev/null
  mkdir -p "$work/$name/docroot"
  python3 "$root/tests/platform/net/https_test_server.py" "$work/$name/docroot" "$work/pki/$name.pem" \
    "$work/pki/$name.key" "$work/$name/port" "$work/$name/requests.log" &
  pids+=($!)
}
authority ca
authority stranger-ca
cp "$work/pki/ca.pem" "$work/ca.pem"
server local localhost ca
server elsewhere elsewhere.test ca
server stranger localhost stranger-ca
for name in local elsewhere stranger; do
  for _ in $(seq 100); do
    [ -s "$work/$name/port" ] && break
    sleep 0.1
  done
  [ -s "$work/$name/port" ] || { echo "FAIL: the $name test server did not start" >&2; exit 1; }
done

# Wine sees the Linux root as drive Z:.
TAVRIN_HTTPS_TEST_DIR="Z:$(tr / '\\' <<<"$work")" timeout 120 "$wine64" \
  "$build/tests/platform/win32/tavrin_win32_net_tests.exe" "$@" </dev/null
