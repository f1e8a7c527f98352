#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The X11 display backend against a private Xvfb: 1024x768 with 800x600 added to its output, then
# the display tests run on Qt's xcb platform.
# Usage: display_x11_test.sh BUILD_DIR. Skips (exit 0) only where Xvfb is not installed.
set -euo pipefail

build=${1:?usage: display_x11_test.sh BUILD_DIR}
program="$build/tests/platform_display_x11_test"

if ! command -v Xvfb >/dev/null; then
    echo "display_x11_test: skipped, Xvfb is not installed"
    exit 0
fi
for tool in xauth xrandr xdpyinfo xdotool; do
    command -v "$tool" >/dev/null || { echo "display_x11_test: $tool is missing" >&2; exit 1; }
done
[ -x "$program" ] || { echo "display_x11_test: $program is not built" >&2; exit 1; }

work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A cookie of our own, so that no other client on the machine can reach this server; -noreset
# keeps the added modes when the last client leaves, -displayfd lets Xvfb pick a free display.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
export XAUTHORITY="$work/auth"
: >"$XAUTHORITY"
xauth -q add :0 . "$cookie"
Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp -auth "$XAUTHORITY" \
    3>"$work/display" 2>"$work/xvfb.log" &
server=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$server" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "display_x11_test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$work/display")"
xauth -q add "$DISPLAY" . "$cookie"

output=$(xrandr | awk '$2 == "connected" { print $1; exit }')
[ -n "$output" ] || { echo "display_x11_test: no connected output" >&2; xrandr >&2; exit 1; }
xrandr --newmode 800x600 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
xrandr --addmode "$output" 800x600

VISTREL_XVFB_DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb PLATFORM_MACHINE= "$program"

# The tests restore the screen; a change left behind would show here.
size=$(xdpyinfo | awk '/dimensions:/ { print $2 }')
[ "$size" = 1024x768 ] || { echo "display_x11_test: screen left at $size" >&2; exit 1; }
echo "display_x11_test: passed on $DISPLAY ($output)"
