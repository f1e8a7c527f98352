#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The built program records 12 s on the real clock while its thread is held for 3 s: a modal box
# left open, the process stopped and continued, one write to a slow disk. The frames the test card
# missed meanwhile are made up, so picture and sound stay in step after the stall, and the log
# counts what the file holds.
#   stall_end_to_end_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/headless.sh" "$1" ffprobe ffmpeg

log_value() { tr -d '\r' <CapLog.txt | sed -n "$1p" | sed 's/^.\{15\}//'; }
video_seconds() {
  ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 "$1"
}
# 16-bit stereo at 44,100 Hz: 176,400 bytes a second.
audio_seconds() {
  ffmpeg -nostdin -v error -i "$1" -map 0:a -f s16le -ac 2 -ar 44100 - | wc -c | awk '{ print $1 / 176400 }'
}

# stall, [user] stall line, seconds of the file left out of the sync verdict around the stall
while read -r case line except; do
  dir="$work/$case"
  mkdir -p "$dir/bin"
  cp "$build/app/vistrel" "$dir/bin/"
  cd "$dir"
  line=${line//_/ }
  machine "" "escape_after_ms = 12000
${line#none}"
  PLATFORM_MACHINE="$dir/machine.ini" "$dir/bin/vistrel" Capture 2>stderr.txt </dev/null &
  pid=$!
  if [ "$case" = sigstop ]; then
    for _ in $(seq 100); do compgen -G 'VST_*.avi' >/dev/null && break; sleep 0.1; done
    sleep 3
    kill -STOP "$pid"
    sleep 3
    kill -CONT "$pid"
  fi
  status=0
  wait "$pid" || status=$?
  [ "$status" = 0 ] || fail "ended with status $status"
  files=(VST_*.avi)
  [ "${#files[@]}" = 1 ] && [ -f CapLog.txt ] || fail "no file and log: $(ls)"
  f=${files[0]}
  held=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
    -of csv=p=0 "$f")
  [ "$(log_value 4)" = "$held" ] || fail "the log counts $(log_value 4) frames, the file holds $held"
  inserted=$(log_value 8)
  ((inserted >= 60)) || fail "only $inserted frames made up for a 3 s stall"
  video=$(video_seconds "$f")
  audio=$(audio_seconds "$f")
  awk -v v="$video" -v a="$audio" 'BEGIN { d = v - a; exit !(d > -0.1 && d < 0.1) }' ||
    fail "picture lasts $video s, sound $audio s"
  echo "$case: $held frames of which $inserted made up; picture $video s, sound $audio s"
  "$build/tools/vistrel_avsync" --within -60 45 --except $except "$f" ||
    fail "picture and sound out of step"
done <<'TABLE'
message stall=message_3000_3000 2.5 6.5
sigstop none 2 8
write stall=write_3000_3000 2.5 6.5
TABLE
echo PASS
