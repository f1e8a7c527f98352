#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every run mode of the built program on a real X server (Xvfb, 1024 x 768 with smaller modes
# added): how it starts, what it records, how it ends, what it leaves in its settings file beside
# the executable and what it does to the screen. Screenshots are left in BUILD/screenshots/.
#   run_modes_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" xrandr xdotool import ffprobe

# The program in a folder of its own, so that its settings file is this test's alone.
mkdir "$work/program" "$work/videos"
cp "$build/app/vistrel" "$work/program/vistrel"
settings="$work/program/Vistrel.ini"
cd "$work/videos"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

start_x_server 1024x768
add_mode 800x600_60 "40 800 840 968 1056 600 601 605 628 -hsync +vsync"
add_mode 800x768_60 "50 800 840 968 1056 768 769 773 796 -hsync +vsync"
add_mode 1024x600_60 "50 1024 1064 1192 1280 600 601 605 628 -hsync +vsync"

# The scripted user's clock and escape, the compressor and the sizes the card accepts, from the
# variables of the call.
machine() {
  x11_machine "${DRIVERS-0 = testcard}" stderr "clock = ${CLOCK:-real}
escape_after_ms = ${ESCAPE:-0}
[codecs]
MJPG = ${MJPG:-yes}
[driver0]
accepts = ${ACCEPTS:-any}"
}

fail() {
  echo "FAIL: $*"
  sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20
  exit 1
}
screen_size() { xrandr | sed -n 's/.*current \([0-9]*\) x \([0-9]*\),.*/\1x\2/p'; }
set_screen() { xrandr --output screen --mode "$1_60" 2>/dev/null || xrandr -s "$1"; }
saved() { tr -d '\r' <"$settings" | sed -n "$(($1 + 1))p"; }

# Starts the program and waits for its window: its id in $window, its process in $pid.
start() {
  "$work/program/vistrel" "$@" 2>"$work/stderr.txt" &
  pid=$!
  echo "$pid" >>"$work/pids"
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && return
    kill -0 "$pid" 2>/dev/null || fail "vistrel $* ended before showing its window"
    sleep 0.05
  done
  fail "no window for vistrel $*"
}

# Waits for the program to end by itself; fails after $1 seconds.
ended() {
  for _ in $(seq $(($1 * 20))); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" || fail "ended with status $?"; return 0; }
    sleep 0.05
  done
  fail "the program did not end within $1 s"
}

geometry() { xdotool getwindowgeometry "$window" | tr '\n' ' '; }
expect_geometry() {
  local g
  g=$(geometry)
  [[ $g == *"Position: $1 "*"Geometry: $2"* ]] || fail "window at $g, expected $1 $2"
}

# "Quitter" is at 440, 96 in the control panel, itself at 20, 333 in the windowed layout.
quitter() { xdotool mousemove --window "$window" 504 441 click 1; }

messages() { sed -n 's/^message: //p' "$work/stderr.txt"; }

# ---- interactive, no settings file: top 15, centred; "Quitter" saves top and left ----
machine
start
expect_geometry "214,15" "593x485"
sleep 1
import -window root "$shots/run_interactive.png"
quitter
ended 5
[ "$(saved 2),$(saved 3)" = "15,214" ] || fail "saved $(saved 2),$(saved 3)"
[ "$(tr -cd '\n' <"$settings" | wc -c)" = 21 ] || fail "not 21 lines"

# ---- Capture on 1024 x 768: switched, cursor parked, recording, Escape ends it ----
start Capture
[ "$(screen_size)" = 800x600 ] || fail "Capture left the screen at $(screen_size)"
expect_geometry "0,0" "800x600"
eval "$(xdotool getmouselocation --shell)"
[ "$X,$Y" = "799,599" ] || fail "cursor at $X,$Y"
sleep 2.5
import -window root "$shots/run_capture.png"
shopt -s nullglob
files=(VST_*.avi)
[ "${#files[@]}" = 1 ] || fail "no recording a second after showing: ${files[*]:-none}"
xdotool key Escape
ended 10
[ "$(screen_size)" = 1024x768 ] || fail "the screen was left at $(screen_size)"
[ "$(saved 2),$(saved 3)" = "0,0" ] || fail "Capture saved $(saved 2),$(saved 3)"
frames=$(ffprobe -v error -select_streams v -show_entries stream=nb_frames -of csv=p=0 "${files[0]}")
((frames >= 25)) || fail "only $frames frames recorded"
[ -f CapLog.txt ] || fail "no capture log"
[ -z "$(messages)" ] || fail "messages: $(messages)"
echo "Capture: $frames frames, screen restored"
rm -f VST_*.avi CapLog.txt

# ---- Capture on a desktop 800 wide, then 600 high: never switched ----
CLOCK=virtual ESCAPE=1000 machine
for size in 800x768 1024x600; do
  set_screen "$size"
  start Capture
  [ "$(screen_size)" = "$size" ] || fail "Capture switched a $size desktop to $(screen_size)"
  expect_geometry "0,0" "${size}"
  ended 10
  [ "$(screen_size)" = "$size" ] || fail "the close changed a $size desktop to $(screen_size)"
  [ -z "$(messages)" ] || fail "messages: $(messages)"
  rm -f VST_*.avi CapLog.txt
done
set_screen 1024x768

# ---- TV: never switched, the picture with the time, nothing recorded ----
ESCAPE=3000 machine
start TV
expect_geometry "0,0" "1024x768"
sleep 2.5
import -window root "$shots/run_tv.png"
ended 10
[ "$(screen_size)" = 1024x768 ] || fail "TV left the screen at $(screen_size)"
files=(VST_*.avi)
[ "${#files[@]}" = 0 ] && [ ! -f CapLog.txt ] || fail "TV recorded: ${files[*]} $(ls)"

# ---- Time: the small tile at 48 % / 94.5 %, its place saved and used by the next start ----
start Time
sleep 0.3
expect_geometry "491,725" "40x30"
sleep 2
import -window root "$shots/run_time.png"
ended 10
[ "$(saved 2),$(saved 3)" = "725,491" ] || fail "Time saved $(saved 2),$(saved 3)"
files=(VST_*.avi)
[ "${#files[@]}" = 1 ] || fail "Time recorded ${files[*]:-nothing}"
rm -f VST_*.avi CapLog.txt

# ---- "capture" in lower case is interactive, and opens where the Time run left it, moved up
#      and left just enough to be whole on the screen ----
start capture
expect_geometry "431,283" "593x485"
[ "$(screen_size)" = 1024x768 ] || fail "lower-case capture switched the screen"
"$build/tools/vistrel_x11_close_window" "$window"
ended 5

# ---- no driver, in Capture mode: two messages, windowed and empty; with no capture to end
#      with, it ends by itself, saves nothing and gives back the screen switched at start ----
rm -f "$settings"
DRIVERS= machine
start Capture
sleep 0.5
[ "$(messages | tr '\n' '|')" = "Connection au driver d'acquisition video impossible ...|Aucune carte d'acquisition n'a été détectée ...|" ] ||
  fail "messages: $(messages)"
expect_geometry "102,15" "593x197"
[ "$(screen_size)" = 800x600 ] || fail "the failed start is at $(screen_size)"
import -window root "$shots/run_no_driver.png"
ended 5
[ ! -f "$settings" ] || fail "a failed start saved its position"
[ "$(screen_size)" = 1024x768 ] || fail "the failed start left the screen at $(screen_size)"

# ---- a Frame Max that is no number, in Capture mode: switched, the message, then it ends by
#      itself and the screen is given back ----
machine
printf '\r\n%.0s' 1 2 3 4 5 6 7 8 >"$settings"
printf 'beaucoup\r\n' >>"$settings"
start Capture
[ "$(screen_size)" = 800x600 ] || fail "Capture left the screen at $(screen_size)"
ended 10
[ "$(messages)" = "'beaucoup' n'est pas une valeur entière correcte" ] || fail "messages: $(messages)"
[ "$(screen_size)" = 1024x768 ] || fail "the refused start left the screen at $(screen_size)"

# ---- no compressor, in Capture mode: one message, the program ends by itself ----
MJPG=no machine
started=$(date +%s%N)
# Its window is shown at no size at all, so it is never seen: only its end is waited for.
"$work/program/vistrel" Capture 2>"$work/stderr.txt" &
pid=$!
echo "$pid" >>"$work/pids"
ended 5
elapsed=$((($(date +%s%N) - started) / 1000000))
[ "$(messages)" = 'Codec de compression "MPEG1" ou "DIVX" non present sur votre ordinateur ...' ] ||
  fail "messages: $(messages)"
((elapsed >= 900)) || fail "ended after $elapsed ms, before Timer2"
[ "$(screen_size)" = 1024x768 ] || fail "no compressor, yet the screen was switched"
echo "no compressor: ended after $elapsed ms"
echo "PASS"
