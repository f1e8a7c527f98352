#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The window skin, the drag and the options panel on a real X server (Xvfb, no window manager):
# screenshots of the window held pixel by pixel against the skin's rules, with the options panel
# closed and open and at 800 x 600; a drag from the frame that leaves the window on the way; the
# destination and frame limit chosen with the keyboard and saved; the title strip's minimise.
# With openbox installed, the minimise is tried under it as well. Screenshots are left in
# BUILD/screenshots/.
#   skin_x11_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" xdotool import xwininfo xprop convert
fail() { echo "FAIL: $*"; cat "$work"/vistrel.log 2>/dev/null; exit 1; }

start_x_server 1024x768

# A copy of the program in a folder of its own, so that its settings file lies there too.
cp "$build/app/vistrel" "$work/vistrel"
x11_machine

start() {
  "$work/vistrel" >"$work/vistrel.log" 2>&1 &
  echo $! >"$work/pid"
  echo $! >>"$work/pids"
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && { sleep 1.5; return; }
    sleep 0.1
  done
  fail "no window"
}
stop() {
  "$build/tools/vistrel_x11_close_window" "$window"
  for _ in $(seq 100); do kill -0 "$(cat "$work/pid")" 2>/dev/null || return 0; sleep 0.1; done
  fail "vistrel did not end on a close request"
}
position() { xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9-]*,[0-9-]*\).*/\1/p'; }
# Clicks at a point given in the window's own coordinates.
click_at() {
  IFS=, read -r x y <<<"$(position)"
  xdotool mousemove $((x + $1)) $((y + $2)) click 1
  sleep 0.3
}
shot() { import -window "$window" "$shots/$1.png"; }
check() { "$build/tests/skin_screenshot_check" "$shots/$1.png" "${@:2}" || fail "skin of $1"; }
line() { sed -n "$(($1 + 1))p" "$work/Vistrel.ini" | tr -d '\r'; }

start
shot skin_options_closed
check skin_options_closed
# The four corners, eight times larger: top-left, top-right over bottom-left, bottom-right.
c="$work/corner"
for at in 0+0 577+0 0+469 577+469; do
  convert "$shots/skin_options_closed.png" -crop "16x16+$at" +repage "$c$at.png"
done
convert "${c}0+0.png" "${c}577+0.png" +append "${c}top.png"
convert "${c}0+469.png" "${c}577+469.png" +append "${c}bottom.png"
convert "${c}top.png" "${c}bottom.png" -append -scale 800% "$shots/skin_corners.png"

# "Options" (Button1 on Panel2), then the destination's first drive with the Down key and a
# frame limit typed over the old one, then "Ok".
click_at 488 409
shot skin_options_open
check skin_options_open options
click_at 390 179
xdotool key ctrl+a BackSpace Down
click_at 408 115
xdotool key ctrl+a type 1200
click_at 513 139
[ "$(line 7)" = 'C:\' ] || fail "destination saved as '$(line 7)'"
[ "$(line 8)" = 1200 ] || fail "frame limit saved as '$(line 8)'"

# A drag from the bottom-right frame: the cursor's jump leaves the window, which follows it.
IFS=, read -r x0 y0 <<<"$(position)"
xdotool mousemove $((x0 + 590)) $((y0 + 482)) mousedown 1
sleep 0.2
xdotool mousemove $((x0 + 640)) $((y0 + 512))
sleep 0.3
xdotool mouseup 1
sleep 0.3
[ "$(position)" = "$((x0 + 50)),$((y0 + 30))" ] || fail "dragged to $(position) from $x0,$y0"
xdotool mousemove $((x0 + 300)) $((y0 + 300))
sleep 0.3
[ "$(position)" = "$((x0 + 50)),$((y0 + 30))" ] || fail "a move with no button moved the window"

xdotool windowmove "$window" 0 0 windowsize "$window" 800 600
sleep 0.5
shot skin_800x600
check skin_800x600

# The title strip (Panel4 on Panel2). With no window manager nothing can iconify the window nor
# bring it back, so it stays on screen.
click_at 236 359
sleep 0.5
xwininfo -id "$window" | grep -q "IsViewable" || fail "minimised with no window manager"
stop

# The next start shows the saved choices when the panel opens (a screenshot to look at).
start
click_at 488 409
shot skin_options_after_restart
check skin_options_after_restart options
stop

if command -v openbox >/dev/null; then
  openbox >"$work/openbox.log" 2>&1 &
  echo $! >>"$work/pids"
  sleep 1
  start
  click_at 236 359
  sleep 0.5
  xwininfo -id "$window" | grep -q "IsUnMapped" || fail "not minimised under openbox"
  xprop -id "$window" WM_STATE | grep -q "Iconic" || fail "no iconic state under openbox"
  echo "under openbox: iconified; focus now $(xdotool getwindowfocus 2>/dev/null || echo none)"
  xdotool windowmap "$window"
  sleep 0.5
  stop
fi
echo "PASS"
