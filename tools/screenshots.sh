#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The pictures the AppStream metainfo lists, taken from the program itself on an X server of its
# own (Xvfb, 1024 x 768, no window manager) on the built-in test card:
#   window.png   the window as it starts, with the live picture
#   options.png  the same window with its options panel open
#   capture.png  the whole screen during a recording in Capture mode (switched to 800 x 600)
#   screenshots.sh PROGRAM OUTDIR
# The three new pictures reach OUTDIR together, once all are taken; a run that fails leaves it as
# it was. Exits 77 when a tool it needs is not installed.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 PROGRAM OUTDIR" >&2
  exit 2
fi
program=$(realpath "$1")
out=$2
for tool in Xvfb xdpyinfo xrandr xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "screenshots: $*" >&2
  sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20 >&2
  exit 1
}

# The server picks a free display and tells its number. -noreset keeps the added mode when the
# last client leaves.
Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xrandr --newmode 800x600_60 40 800 840 968 1056 600 601 605 628 -hsync +vsync >/dev/null
xrandr --addmode screen 800x600_60

# The program in a folder of its own, where it keeps its settings file and records; nothing of
# the user's is read or written.
mkdir -p "$work/program" "$work/home" "$work/shots"
cp "$program" "$work/program/vistrel"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cat >"$work/machine.ini" <<INI
[drivers]
0 = testcard
[display]
backend = x11
[drives]
C = fixed:$work/program
Z = fixed:/
[user]
messages = stderr
escape_after_ms = 5000
INI
export PLATFORM_MACHINE="$work/machine.ini"

# Starts the program and waits for its window: its id in $window, its process in $pid.
start() {
  "$work/program/vistrel" "$@" 2>"$work/stderr.txt" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && return
    kill -0 "$pid" 2>/dev/null || fail "vistrel $* ended before showing its window"
    sleep 0.05
  done
  fail "no window for vistrel $*"
}
ended() {
  for _ in $(seq 400); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  fail "vistrel did not end"
}

start
sleep 1.5
import -window "$window" "$work/shots/window.png"
# "Options": its button is at 424, 64 in the control panel, itself at 20, 333 in the window. The
# pointer then leaves the window, so that no button is lit and no tooltip shows.
xdotool mousemove --window "$window" 488 409 click 1
xdotool mousemove 1023 767
sleep 1
import -window "$window" "$work/shots/options.png"
kill "$pid"
ended

# Capture mode records from a second after its window shows; the scripted Escape ends it.
start Capture
sleep 3
import -window root "$work/shots/capture.png"
ended

mkdir -p "$out"
mv "$work/shots/window.png" "$work/shots/options.png" "$work/shots/capture.png" "$out/"
echo "screenshots: window.png options.png capture.png in $out"
