# SPDX-License-Identifier: GPL-2.0-or-later
# Shared start of the scripts that run the program on a real X server: a work folder removed at
# exit together with every process started, and an Xvfb of the script's own.
#   source x_server.sh BUILD TOOL...   (the test is skipped, exit 0, when a tool is missing)
build=$(cd "$1" && pwd)
shift
for tool in Xvfb xdpyinfo "$@"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
work=$(mktemp -d)
shots="$build/screenshots"
mkdir -p "$shots"
pids=()
cleanup() {
  # Programs started inside command substitutions keep their ids in $work/pids.
  for pid in $(cat "$work/pids" 2>/dev/null) "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_x_server WIDTHxHEIGHT. The server picks a display nobody holds and tells its number, so
# that tests running side by side never share one. -noreset: it would otherwise forget the added
# modes whenever its last client leaves.
start_x_server() {
  Xvfb -displayfd 3 -screen 0 "$1x24" -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(cat "$work/display")"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# add_mode NAME "MODELINE": a screen mode the server did not start with.
add_mode() {
  xrandr --newmode "$1" $2 >/dev/null
  xrandr --addmode screen "$1"
}

# x11_machine [DRIVERS-LINES] [MESSAGES] [MORE-LINES]: a machine description on the real X
# screen, the work folder as drive C:, exported as PLATFORM_MACHINE. By default the test card and
# printed messages; MORE-LINES follow in [user], and may open sections of their own.
x11_machine() {
  cat >"$work/machine.ini" <<INI
[drivers]
${1-0 = testcard}
[display]
backend = x11
[drives]
C = fixed:$work
Z = fixed:/
[user]
messages = ${2:-stderr}
${3-}
INI
  export PLATFORM_MACHINE="$work/machine.ini"
}
