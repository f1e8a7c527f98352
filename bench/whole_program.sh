#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The whole program against ffmpeg, in one run: the built program records N seconds from the test
# card on the virtual clock in each run mode, then ffmpeg encodes the very same frames and sound
# (decoded from the recording to raw, not timed) at the same chroma. Prints CPU seconds (user +
# sys) per recorded minute for both, their ratio, the peak memory and how fast the virtual clock
# ran. Figures are kept in bench/README.md.
#   whole_program.sh BUILD [SECONDS]          each mode at noise 0 and 30 (default 60 s)
#   whole_program.sh BUILD --day [HOURS]      Capture mode for HOURS of virtual time (default
#                                             24), its RSS sampled: start, middle, end
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
program="$build/app/vistrel"
[[ -x $program ]] || { echo "whole_program: $program is not built" >&2; exit 1; }
for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done

# Recordings go to the disk (their cost is part of the program's); the raw frames ffmpeg reads,
# to memory, so that reading them costs it little.
work=$(mktemp -d /var/tmp/whole_program.XXXXXX)
raw=$(mktemp -d /dev/shm/whole_program.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work" "$raw"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# machine.ini for one run: the test card at NOISE, 25 frames/s, the scripted user pressing
# Escape after MS milliseconds of capture, a 1024 x 768 display that the Capture mode switches
# to 800 x 600.
machine() {
  local folder=$1 noise=$2 ms=$3 backend=$4
  cat >"$folder/machine.ini" <<INI
[drivers]
0 = testcard
[driver0]
noise = $noise
[drives]
C = fixed:$folder
Z = fixed:/
[display]
backend = $backend
size = 1024x768
modes = 800x600 1024x768
[user]
clock = virtual
escape_after_ms = $ms
messages = stderr
INI
}

# Runs the program headless in MODE in FOLDER; prints "user sys maxrss_kB wall".
run_offscreen() {
  local folder=$1 mode=$2 started ended
  started=$(date +%s.%N)
  (cd "$folder" && QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE="$folder/machine.ini" \
    /usr/bin/time -o "$folder/time.txt" -f '%U %S %M' timeout 3600 "$program" "$mode" \
    2>"$folder/stderr.txt") || { echo "whole_program: $mode failed" >&2; cat "$folder/stderr.txt" >&2; return 1; }
  ended=$(date +%s.%N)
  echo "$(tail -1 "$folder/time.txt") $(echo "$ended - $started" | bc)"
}

# User + system CPU of a running process, in seconds.
process_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"
}

# The interactive mode on an X server: the scripted user clicks "Capture"; Escape (scripted)
# ends the capture, and the window is closed once the capture log is written. Only the CPU from
# the click to the end of the capture counts, not the live picture shown before.
run_interactive() {
  local folder=$1
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "- - - -"; return; }
  done
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -noreset >"$folder/xvfb.log" 2>&1 &
  local xvfb=$!
  pids+=("$xvfb")
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # The other modes' runs leave the window's last place in the settings beside the program; the
  # click below needs the window where it first opens. Put back after the run.
  local settings
  settings="$(dirname "$program")/Vistrel.ini"
  [ ! -e "$settings" ] || mv "$settings" "$folder/Vistrel.ini.kept"
  (cd "$folder" && PLATFORM_MACHINE="$folder/machine.ini" "$program" 2>"$folder/stderr.txt") &
  local pid=$! window=
  pids+=("$pid")
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "Vistrel - Ver 3.00" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "whole_program: no window in the interactive mode" >&2; return 1; }
  sleep 1
  local program_pid before started ended after
  program_pid=$(pgrep -P "$pid" -x vistrel || echo "$pid")
  before=$(process_cpu "$program_pid")
  started=$(date +%s.%N)
  # Button8 ("Capture") of the windowed layout: the window at 345, 37, Panel2 at 20, 333 in it.
  # A click the window was not ready for is given again.
  for _ in 1 2 3; do
    xdotool mousemove --window "$window" $((20 + 328 + 44)) $((333 + 64 + 12)) click 1
    for _ in $(seq 100); do
      [ -n "$(find "$folder" -maxdepth 1 -name 'VST_*.avi')" ] && break 2
      sleep 0.1
    done
  done
  for _ in $(seq 36000); do [ -f "$folder/CapLog.txt" ] && break; sleep 0.1; done
  ended=$(date +%s.%N)
  after=$(process_cpu "$program_pid")
  local peak
  peak=$(awk '/VmHWM/ { print $2 }' "/proc/$program_pid/status")
  "$build/tools/vistrel_x11_close_window" "$window" || true
  wait "$pid" || true
  rm -f "$settings"
  [ ! -e "$folder/Vistrel.ini.kept" ] || mv "$folder/Vistrel.ini.kept" "$settings"
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  echo "$(echo "$after - $before" | bc) 0 $peak $(echo "$ended - $started" | bc)"
}

# ffmpeg encodes the recording's frames and sound again, 4:4:4 like our quality 100; prints
# "user sys maxrss_kB file_bytes". (ffmpeg's MJPEG encoder keeps -q:v at its qmin of 2, so
# -q:v 1 encodes as 2.)
run_ffmpeg() {
  local file=$1 size=$2
  ffmpeg -v error -y -i "$file" -map 0:v -f rawvideo -pix_fmt bgr24 "$raw/frames.bgr" \
    -map 0:a -f s16le "$raw/sound.pcm"
  /usr/bin/time -o "$raw/time.txt" -f '%U %S %M' ffmpeg -v error -y \
    -f rawvideo -pix_fmt bgr24 -s "$size" -r 25 -i "$raw/frames.bgr" \
    -f s16le -ar 44100 -ac 2 -i "$raw/sound.pcm" \
    -c:v mjpeg -q:v 1 -pix_fmt yuvj444p -c:a pcm_s16le "$work/ffmpeg.avi"
  echo "$(tail -1 "$raw/time.txt") $(stat -c %s "$work/ffmpeg.avi")"
  rm -f "$raw/frames.bgr" "$raw/sound.pcm" "$work/ffmpeg.avi"
}

per_minute() { echo "scale=2; ($1) * 60 / $2" | bc; }

one_mode() {
  local mode=$1 noise=$2 seconds=$3 folder="$work/$1-$2" backend=machine
  mkdir -p "$folder"
  [ "$mode" = interactive ] && backend=x11
  machine "$folder" "$noise" $((seconds * 1000)) "$backend"
  local figures
  if [ "$mode" = interactive ]; then
    figures=$(run_interactive "$folder")
  else
    figures=$(run_offscreen "$folder" "$mode")
  fi
  read -r user sys peak wall <<<"$figures"
  [ "$user" = - ] && { printf '| %s | %s | (no X server) |\n' "$mode" "$noise"; return; }
  local file
  file=$(ls "$folder"/VST_*.avi 2>/dev/null | head -1 || true)
  # TV records nothing: ffmpeg is given the Capture mode's frames at the same noise.
  [ -z "$file" ] && file=$(ls "$work/Capture-$noise"/VST_*.avi | head -1)
  local fuser fsys fpeak fbytes ours theirs size
  read -r fuser fsys fpeak fbytes <<<"$(run_ffmpeg "$file" 384x288)"
  ours=$(per_minute "$user + $sys" "$seconds")
  theirs=$(per_minute "$fuser + $fsys" "$seconds")
  size="$(per_minute "$(stat -c %s "$file") / 1000000" "$seconds")"
  [ "$mode" = TV ] && size=-
  printf '| %s | %s | %s s | %s s | %s | %s MB | %s MB | %s MB | %s MB | %s× | %s× |\n' \
    "$mode" "$noise" "$ours" "$theirs" "$(echo "scale=2; $ours / $theirs" | bc)" \
    $((peak / 1024)) $((fpeak / 1024)) "$size" "$(per_minute "$fbytes / 1000000" "$seconds")" \
    "$(echo "scale=0; $seconds / $wall" | bc)" "$(echo "scale=0; $seconds / ($user + $sys)" | bc)"
  # Only the Capture mode's file is kept, for the TV mode's comparison.
  [ "$mode" = Capture ] || rm -f "$folder"/VST_*.avi
}

# RSS of a long Capture-mode run, sampled every 10 s; finished files are deleted as the capture
# rolls over, so that a day of recording needs no more than two files of disk.
day() {
  local hours=$1 folder="$work/day"
  mkdir -p "$folder"
  machine "$folder" 0 $((hours * 3600 * 1000)) machine
  cd "$folder"
  QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE="$folder/machine.ini" "$program" Capture \
    2>"$folder/stderr.txt" &
  local program_pid=$! started
  pids+=("$program_pid")
  started=$(date +%s)
  echo "| wall s | CPU s | files on disk | RSS MB |"
  echo "|---|---|---|---|"
  while kill -0 "$program_pid" 2>/dev/null; do
    local rss files cpu
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$program_pid/status" 2>/dev/null || echo 0)
    cpu=$(process_cpu "$program_pid" 2>/dev/null || echo -)
    files=$(find "$folder" -maxdepth 1 -name 'VST_*.avi' | wc -l)
    echo "| $(($(date +%s) - started)) | $cpu | $files | $((rss / 1024)) |"
    find "$folder" -maxdepth 1 -name 'VST_*.avi' -printf '%T@ %p\n' | sort -rn | tail -n +3 |
      cut -d' ' -f2- | xargs -r rm -f
    sleep 10
  done
  wait "$program_pid" || true
  echo "log: $(grep -c '' "$folder/CapLog.txt" 2>/dev/null || echo 0) lines"
}

if [ "${2:-}" = --day ]; then
  day "${3:-24}"
  exit 0
fi
seconds=${2:-60}
echo "$seconds s recorded per run, 384 x 288 at 25 frames/s, 44,100 Hz stereo;" \
  "CPU is user + sys per recorded minute; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| mode | noise | Vistrel CPU | ffmpeg CPU | ratio | Vistrel peak RSS | ffmpeg peak RSS |" \
  "Vistrel file/min | ffmpeg file/min | virtual clock, wall | virtual clock, per CPU s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for noise in 0 30; do
  for mode in Capture TV Time interactive; do one_mode "$mode" "$noise" "$seconds"; done
done
