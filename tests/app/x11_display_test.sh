#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The program on a real X server (Xvfb at 1024 x 768): the windowed window around the test card's
# live picture, opened at top 15 and centred with no settings file beside it, and the Capture mode switching the screen to 800 x 600 through XRandR, restored
# by the close. Screenshots are left in BUILD/screenshots/.
#   x11_display_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" xrandr xdotool import
# The program in a folder of its own, so that no settings file of another run moves its window.
mkdir "$work/program"
cp "$build/app/vistrel" "$work/program/vistrel"
start_x_server 1024x768
add_mode 800x600_60 "40 800 840 968 1056 600 601 605 628 -hsync +vsync"

cat >"$work/machine.ini" <<'INI'
[drivers]
0 = testcard
[display]
backend = x11
[user]
messages = stderr
INI
export PLATFORM_MACHINE="$work/machine.ini"

screen_size() { xrandr | sed -n 's/.*current \([0-9]*\) x \([0-9]*\),.*/\1x\2/p'; }

fail() { echo "FAIL: $*"; cat "$work"/vistrel*.log 2>/dev/null; exit 1; }

# Starts the program with the given arguments and prints its window's id once it is mapped.
start() {
  local log="$work/vistrel$#.log"
  "$work/program/vistrel" "$@" >"$log" 2>&1 &
  echo $! >"$work/pid"
  echo $! >>"$work/pids"
  for _ in $(seq 100); do
    local id
    id=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { sleep 1.5; echo "$id"; return; }
    sleep 0.1
  done
  fail "no window for vistrel $*"
}

# Asks the window to close and waits for the program to end.
stop() {
  "$build/tools/vistrel_x11_close_window" "$1"
  local pid
  pid=$(cat "$work/pid")
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  fail "vistrel did not end on a close request"
}

window=$(start)
geometry=$(xdotool getwindowgeometry "$window")
echo "$geometry"
grep -q "Position: 214,15" <<<"$geometry" || fail "windowed position"
grep -q "Geometry: 593x485" <<<"$geometry" || fail "windowed size"
import -window root "$shots/windowed.png"
stop "$window"

window=$(start Capture)
[ "$(screen_size)" = "800x600" ] || fail "Capture mode left the screen at $(screen_size)"
geometry=$(xdotool getwindowgeometry "$window")
grep -q "Geometry: 800x600" <<<"$geometry" || fail "full-screen size: $geometry"
eval "$(xdotool getmouselocation --shell)"
[ "$X,$Y" = "799,599" ] || fail "cursor at $X,$Y instead of the corner"
import -window root "$shots/capture_mode.png"
stop "$window"
[ "$(screen_size)" = "1024x768" ] || fail "the close left the screen at $(screen_size)"
echo "PASS"
