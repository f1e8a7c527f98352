#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Time mode keeps the keyboard: when the focus goes to another X client, the blinking tile takes
# it back at its very next blink (one every 50 frames at 25 frames a second: 2 s), so that
# Escape is never dead for longer. On a real X server (Xvfb) with no window manager, where the
# server itself refuses a focus request stamped before the other client's change, and, where
# openbox is installed, under openbox and after openbox was killed (its EWMH properties left on
# the root name a window manager that no longer answers); Escape ends each run.
#   time_focus_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" xdotool xmessage xprop

# A blink period and a half: the blink after the first one would come a whole period later.
limit_ms=3000
rounds=3

mkdir "$work/program" "$work/videos"
cp "$build/app/vistrel" "$work/program/vistrel"
cd "$work/videos"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
x11_machine

fail() {
  echo "FAIL: $*"
  sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20
  exit 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
focus() { xdotool getwindowfocus -f 2>/dev/null || true; }

# Waits until the window $1 has the focus; $waited_ms says how long that took. Fails after $2 s.
await_focus() {
  local start
  start=$(now_ms)
  while [ "$(focus)" != "$1" ]; do
    (($(now_ms) - start < $2 * 1000)) || fail "$3"
  done
  waited_ms=$(($(now_ms) - start))
}

# Gives the focus to the other client, asking again until it has it (a blink may take it back
# in between).
focus_other() {
  for _ in 1 2 3 4 5; do
    xdotool "$move_focus" "$other" 2>/dev/null || true
    for _ in $(seq 20); do [ "$(focus)" = "$other" ] && return; sleep 0.01; done
  done
  fail "xmessage never got the focus"
}

# Starts Time mode beside xmessage and measures how long the tile takes to get the focus back
# from it. Each measure starts right after a blink took the focus back, so that a blink whose
# request is refused shows every time as a whole period more, never hidden by the phase.
run_time_mode() {
  xmessage -name other "the other client" 2>/dev/null &
  local xmessage=$!
  echo "$xmessage" >>"$work/pids"
  "$work/program/vistrel" Time 2>"$work/stderr.txt" &
  pid=$!
  echo "$pid" >>"$work/pids"
  local start
  start=$(now_ms)
  other="" tile=""
  while [ -z "$other" ] || [ -z "$tile" ]; do
    (($(now_ms) - start < 10000)) || fail "no window for xmessage or vistrel Time"
    other=$(xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -1 || true)
    tile=$(xdotool search --onlyvisible --name 'Vistrel - Ver 3.00' 2>/dev/null | head -1 || true)
    sleep 0.05
  done
  await_focus "$tile" 10 "vistrel Time never had the focus"
  focus_other
  await_focus "$tile" 10 "the focus never came back to the tile"
  local delays=()
  for _ in $(seq "$rounds"); do
    focus_other
    await_focus "$tile" 10 "the focus never came back to the tile"
    delays+=("$waited_ms")
  done
  echo "$1: the focus came back after ${delays[*]} ms"
  for ms in "${delays[@]}"; do
    ((ms <= limit_ms)) || fail "$1: the focus came back after $ms ms, past the first blink"
  done
  xdotool key Escape
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && fail "$1: Escape did not end vistrel Time"
  wait "$pid" || fail "$1: vistrel Time ended with status $?"
  kill "$xmessage"
}

start_x_server 1024x768
move_focus=windowfocus
run_time_mode "no window manager"

if command -v openbox >/dev/null; then
  openbox >"$work/openbox.log" 2>&1 &
  openbox=$!
  echo "$openbox" >>"$work/pids"
  sleep 1
  move_focus=windowactivate
  run_time_mode "openbox"
  kill -KILL "$openbox"
  wait "$openbox" 2>/dev/null || true
  sleep 0.5
  xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || fail "openbox left no check window"
  move_focus=windowfocus
  run_time_mode "openbox killed"
fi
echo "PASS"
