#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The system's request to end while a start-up message of the Capture mode waits for the user, on
# a real X server (Xvfb at 1024 x 768 with 800 x 600 added) with real message boxes: the screen
# has been switched to 800 x 600 by then. The box is closed unread, its text kept on standard
# error, the program ends by itself with status 0 and the screen is given back.
#   signal_during_startup_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" xrandr xdotool

mkdir "$work/program"
cp "$build/app/vistrel" "$work/program/vistrel"
settings="$work/program/Vistrel.ini"
cd "$work"
export XDG_RUNTIME_DIR="$work/runtime" PLATFORM_MACHINE="$work/machine.ini"
mkdir -m 700 "$XDG_RUNTIME_DIR"

start_x_server 1024x768
add_mode 800x600_60 "40 800 840 968 1056 600 601 605 628 -hsync +vsync"

fail() {
  echo "FAIL ($case): $*"
  sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20
  exit 1
}
screen_size() { xrandr | sed -n 's/.*current \([0-9]*\) x \([0-9]*\),.*/\1x\2/p'; }

machine() { x11_machine "$1" dialog; }  # [drivers] lines

# The boxes are titled with the program's name; the main window is not shown before they go.
wait_for_box() {
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name '^vistrel$' >/dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || fail "ended before showing its message"
    sleep 0.05
  done
  fail "no message box"
}

wait_for_end() {
  for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" || fail "ended with status $?"; return 0; }
    sleep 0.05
  done
  fail "still running 10 s after SIGTERM"
}

# Each case: its name, its [drivers] line, settings line 2 (the window's top; none: no file), and
# the messages the run prints, the box closed unread first.
cases=(
  "no-driver||-|Connection au driver d'acquisition video impossible ...|Aucune carte d'acquisition n'a été détectée ..."
  "top-not-a-number|0 = testcard|abc|'abc' n'est pas une valeur entière correcte"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r case drivers top expected <<<"$entry"
  machine "$drivers"
  rm -f "$settings"
  [ "$top" = - ] || printf '\r\n\r\n%s\r\n' "$top" >"$settings"
  "$work/program/vistrel" Capture 2>"$work/stderr.txt" &
  pid=$!
  echo "$pid" >>"$work/pids"
  wait_for_box
  [ "$(screen_size)" = 800x600 ] || fail "the message came at $(screen_size), not after the switch"
  kill -TERM "$pid"
  wait_for_end
  [ "$(screen_size)" = 1024x768 ] || fail "the screen was left at $(screen_size)"
  printed=$(sed -n 's/^message: //p' "$work/stderr.txt" | tr '\n' '|')
  [ "$printed" = "$expected|" ] || fail "printed: $printed"
  echo "$case: box closed, screen given back"
done
echo PASS
