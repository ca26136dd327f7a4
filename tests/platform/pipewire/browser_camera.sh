#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The demonstration program's camera in a real browser, as a video call's page uses it:
#  - a private PipeWire session, and on its D-Bus the permission store (the camera
#    allowed ahead, so no question is asked), the GTK portal backend and
#    xdg-desktop-portal, which gives browsers their cameras;
#  - tavrin-capture-demo publishes the camera;
#  - a page served on 127.0.0.1 only, in headless Chromium (or Firefox), lists the
#    cameras, opens "Tavrin Capture" with getUserMedia, counts its frames and draws
#    some into a canvas;
#  - the camera's size, at least 50 frames a second (Chromium), and the drawn pictures
#    within what I420 allows of the program's own (tavrin-camera-check --tolerance).
# Skipped (77) where the browser or the portal is not installed.
#   browser_camera.sh DEMO CHECKER PIPEWIRE_SESSION_SCRIPT PAGE [chromium|firefox]
set -u
demo="$1"; check="$2"; session="$3"; page="$4"; browser="${5:-chromium}"
skip() { echo "skipped: $*"; exit 77; }
[ -n "${DISPLAY:-}" ] || skip "no X server: run under scripts/test-env.sh"
case "$browser" in
  chromium) command -v chromium >/dev/null || skip "needs chromium (scripts/install-deps.sh test)" ;;
  firefox) command -v firefox-esr >/dev/null || skip "needs firefox-esr (scripts/install-deps.sh test)" ;;
  *) echo "unknown browser $browser"; exit 2 ;;
esac
[ -x /usr/libexec/xdg-desktop-portal ] && [ -x /usr/libexec/xdg-desktop-portal-gtk ] &&
  [ -x /usr/libexec/xdg-permission-store ] ||
  skip "needs xdg-desktop-portal and xdg-desktop-portal-gtk (scripts/install-deps.sh test)"
command -v pipewire >/dev/null && command -v wireplumber >/dev/null || skip "needs pipewire and wireplumber"

work="$(mktemp -d /tmp/tavrin-browser-camera.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  # Whatever ignored the request (a browser's helpers) must not outlive the test on the
  # shared display.
  for p in "${pids[@]}"; do kill -KILL -- "-$p" 2>/dev/null; done
  bash "$session" stop "$work/pw"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in out.txt portal.log browser.log; do
    echo "--- $f"; grep -a -v 'TAVRIN picture' "$work/$f" 2>/dev/null | tail -n 25 | cut -c1-300
  done
  exit 1
}
wait_for() { # SECONDS COMMAND...
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# Started in a process group of its own, so that everything it starts ends with it.
start() { # LOG COMMAND...
  local log="$1"; shift
  setsid "$@" >"$work/$log" 2>&1 &
  pids+=($!)
}
on_bus() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
             --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true; }

bash "$session" start "$work/pw" || fail "the PipeWire session did not start"
# Everything below shares the session's bus and daemon; the portal's stores stay in $work.
export DBUS_SESSION_BUS_ADDRESS="$(cat "$work/pw/bus")"
export PIPEWIRE_RUNTIME_DIR="$work/pw/run" XDG_RUNTIME_DIR="$work/pw/run"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CURRENT_DESKTOP=GNOME
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"

# Started here rather than by D-Bus activation, which would give them the bus's
# environment (another data folder, no display).
start permission.log /usr/libexec/xdg-permission-store --replace
wait_for 10 on_bus org.freedesktop.impl.portal.PermissionStore || fail "the permission store did not start"
gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
  --object-path /org/freedesktop/impl/portal/PermissionStore \
  --method org.freedesktop.impl.portal.PermissionStore.SetPermission devices true camera '' "['yes']" \
  >/dev/null || fail "the camera permission could not be stored"
start gtk.log /usr/libexec/xdg-desktop-portal-gtk --replace
wait_for 10 on_bus org.freedesktop.impl.portal.desktop.gtk || fail "xdg-desktop-portal-gtk did not start"
start portal.log /usr/libexec/xdg-desktop-portal --replace --verbose
wait_for 15 on_bus org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start"

start out.txt env QT_QPA_PLATFORM=xcb "$demo"
node_published() { pw-cli ls Node 2>/dev/null | grep -q 'node.name = "tavrin-capture"'; }
wait_for 15 node_published || fail "tavrin-capture was not published"

mkdir -p "$work/www"
cp "$page" "$work/www/index.html"
start http.log python3 -u -m http.server --bind 127.0.0.1 --directory "$work/www" 0
wait_for 10 grep -q "port [0-9]" "$work/http.log" || fail "the page's server did not start"
port="$(grep -o 'port [0-9]*' "$work/http.log" | head -n 1 | cut -d' ' -f2)"

url="http://127.0.0.1:$port/index.html?seconds=3&pictures=4"
open_page() { # PROFILE
  if [ "$browser" = chromium ]; then
    # --use-fake-ui-for-media-stream answers the browser's own camera question; the
    # portal's is answered by the stored permission.
    start browser.log chromium --headless=new --no-sandbox --no-first-run --user-data-dir="$1" \
      --enable-features=WebRtcPipeWireCamera --use-fake-ui-for-media-stream --enable-logging=stderr --v=0 "$url"
  else
    mkdir -p "$1"
    cat >"$1/user.js" <<'PREFS'
user_pref("media.webrtc.camera.allow-pipewire", true);
user_pref("media.navigator.permission.disabled", true);
user_pref("devtools.console.stdout.content", true);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
PREFS
    # Without its crash reporter: after a crash it puts a window on the display the next
    # window tests share, and waits there for a user.
    start browser.log env MOZ_CRASHREPORTER_DISABLE=1 firefox-esr --headless --no-remote --profile "$1" "$url"
  fi
}
finished() { grep -a -q -E 'TAVRIN (done|error)' "$work/browser.log"; }
page_ended() { finished || ! kill -0 "${pids[-1]}" 2>/dev/null || grep -a -q '^# Check failed: !race_checker' "$work/browser.log"; }
open_page "$work/profile"
wait_for 45 page_ended || fail "the page did not finish within 45 s"
# Firefox's capture code now and then aborts on its own thread-race assertion, or the
# browser simply dies, while the stream starts, with the page never answering. That is
# the browser's fault, not the camera's: say so and give the page one more go in a fresh
# browser; a second failure, or anything else, fails.
if ! finished; then
  echo "the browser ended or aborted before the page finished; opening it once more:"
  grep -a -m 1 '^# Fatal error in' "$work/browser.log" || true
  kill -- "-${pids[-1]}" 2>/dev/null; wait "${pids[-1]}" 2>/dev/null
  mv "$work/browser.log" "$work/browser-first.log"
  open_page "$work/profile-2"
  wait_for 45 page_ended || fail "the page did not finish within 45 s, the second time"
  finished || fail "the browser ended or aborted twice before the page finished"
fi
# One of the page's lines without the browser's quoting around it.
line() { grep -a -o "TAVRIN $1 .*" "$work/browser.log" | head -n 1 |
         sed -e "s/^TAVRIN $1 //" -e 's/", source:.*$//' -e 's/"$//' -e 's/\\"/"/g'; }
says() { line "$1"; }
error="$(line error)"
[ -z "$error" ] || fail "the page: $error"
cameras="$(line cameras)"
echo "cameras: $cameras"
echo "$cameras" | grep -q '"Tavrin Capture"' || fail "Tavrin Capture is not among the cameras"
opened="$(line opened)"
echo "opened: $opened"
echo "$opened" | grep -q '"width":256,"height":384' || fail "not opened at the camera's size, 256 x 384"
frames="$(says frames)"
echo "frames: $frames"
set -- $frames
[ "${3:-}" = 256x384 ] || fail "frames of ${3:-no} size"
# Chromium hands the page every frame (MediaStreamTrackProcessor); Firefox has no such
# thing, and what its video element presents in headless mode (about 40 a second seen
# here) says only that the picture moves.
min_fps=50
[ "$browser" = firefox ] && min_fps=10
awk -v f="${5:-0}" -v m="$min_fps" 'BEGIN { exit !(f >= m) }' || fail "${5:-0} frames a second, not $min_fps or more"
echo "pixel format in the browser: $(line format)"

mkdir -p "$work/pictures"
grep -a -o 'TAVRIN picture [0-9]* data:image/png;base64,[A-Za-z0-9+/=]*' "$work/browser.log" |
  while read -r _ _ n url; do echo "${url#data:image/png;base64,}" | base64 -d >"$work/pictures/$n.png"; done
count="$(ls "$work/pictures" | wc -l)"
[ "$count" = 4 ] || fail "$count pictures drawn, not 4"
# Away from colour edges only rounding separates the browser's RGB from ours (3 levels
# seen with Chromium 156, 4 with Firefox 153, which takes BGRA and makes I420 of it); at edges 2 x 2 pixels share one chroma sample, which the
# mean difference over the picture (at most 4 a channel; 0.4 to 2.2 seen) allows for.
"$check" --layout 6 --moving --tolerance 6 "$work"/pictures/*.png || fail "the drawn pictures"
echo "PASS: $browser opened Tavrin Capture at 256 x 384, $5 frames a second, pictures within I420's tolerance"
