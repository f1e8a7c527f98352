#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The program on a 3840 x 2160 screen scaled to 200 % as desktops scale X11 (Xft.dpi 192, from
# which Qt takes its factor), under openbox leaving a 96-pixel panel at the bottom: the window
# opens whole inside the work area and follows a drag pixel for pixel; the place a Time run saves
# brings the next window back inside; Capture switches the screen to the 1600 x 1200 mode that
# gives its 800 x 600 and back; TV covers the screen. Sizes here are the server's pixels.
# Screenshots are left in BUILD/screenshots/.
#   scaled_desktop_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/x_server.sh" "$1" openbox xrdb xprop xrandr xdotool import

mkdir "$work/program"
cp "$build/app/vistrel" "$work/program/vistrel"
start_x_server 3840x2160
add_mode 1600x1200_60 "162.00 1600 1664 1856 2160 1200 1201 1204 1250 +hsync +vsync"
echo "Xft.dpi: 192" | xrdb -merge
cat >"$work/openbox.xml" <<'XML'
<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>0</top><bottom>96</bottom><left>0</left><right>0</right></margins>
</openbox_config>
XML
openbox --config-file "$work/openbox.xml" >"$work/openbox.log" 2>&1 &
echo $! >>"$work/pids"
for _ in $(seq 50); do xprop -root _NET_WORKAREA 2>/dev/null | grep -q 2064 && break; sleep 0.1; done
x11_machine "0 = testcard" stderr "escape_after_ms = 2500"
settings="$work/program/Vistrel.ini"

fail() { echo "FAIL: $*"; cat "$work"/vistrel*.log 2>/dev/null; exit 1; }
screen_size() { xrandr | sed -n 's/.*current \([0-9]*\) x \([0-9]*\),.*/\1x\2/p'; }

# Starts the program (an argument is the run mode) and sets $window, $X, $Y, $WIDTH, $HEIGHT.
start() {
  "$work/program/vistrel" "$@" >"$work/vistrel-$*.log" 2>&1 &
  pid=$!
  echo "$pid" >>"$work/pids"
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no window for vistrel $*"
  sleep 1.5
  eval "$(xdotool getwindowgeometry --shell "$window")"
  echo "vistrel $*: ${WIDTH}x$HEIGHT at $X,$Y"
}

await_end() {
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
  fail "vistrel did not end"
}

close_window() {
  "$build/tools/vistrel_x11_close_window" "$window"
  await_end
}

# The window: 593 x 485 in the program's pixels, top 15, centred on the 1920 the program sees.
start
[ "$X,$Y,$WIDTH,$HEIGHT" = "1324,30,1186,970" ] || fail "the window opened at $X,$Y"
import -window root "$shots/scaled_desktop.png"
# Dragged by its frame, it moves as far as the pointer.
xdotool mousemove $((X + 6)) $((Y + 400)) mousedown 1
for step in 1 2 3 4; do xdotool mousemove $((X + 6 + step * 50)) $((Y + 400 + step * 25)); done
xdotool mouseup 1
sleep 0.5
before="$X,$Y"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$X,$Y" = "1524,130" ] || fail "dragged 200,100 from $before, the window went to $X,$Y"
close_window
saved=$(sed -n '3,4p' "$settings" | tr -d '\r' | paste -sd,)
[ "$saved" = "65,762" ] || fail "saved $saved, not the dragged window's top and left"

# The tile near the bottom centre, whole on the screen. The place a Time run saves, the tile's
# (written here: under openbox Qt at times has the tile at 0, 0 when it closes), brings the next
# window up just enough to be whole inside the work area.
start Time
[ "$X,$Y,$WIDTH,$HEIGHT" = "1842,2040,152,86" ] || fail "the Time tile"
await_end
printf '\r\n\r\n1020\r\n921\r\n' >"$settings"
start
[ "$X,$Y" = "1842,1094" ] || fail "after a Time run the window opened at $X,$Y"
close_window

start Capture
[ "$(screen_size)" = "1600x1200" ] || fail "Capture mode left the screen at $(screen_size)"
[ "$X,$Y,$WIDTH,$HEIGHT" = "0,0,1600,1200" ] || fail "the Capture window is not the screen"
import -window root "$shots/scaled_desktop_capture.png"
await_end
[ "$(screen_size)" = "3840x2160" ] || fail "the end left the screen at $(screen_size)"

start TV
[ "$X,$Y,$WIDTH,$HEIGHT" = "0,0,3840,2160" ] || fail "the TV window is not the screen"
import -window root "$shots/scaled_desktop_tv.png"
await_end
echo "PASS"
