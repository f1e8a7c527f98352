#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The built program, headless, in Capture mode under address-space limits (`ulimit -v`) from
# enough to record down to too little to start: wherever the limit refuses memory (a thread's
# stack, the capture's buffers, the stream's format, the first write), the run ends by itself with
# a message, never a hang or an abort, and leaves only files that hold what the log says.
#   memory_limit_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/headless.sh" "$1" ffprobe ffmpeg
if grep -q '^VISTREL_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "skipped: the sanitizers reserve far more address space than these limits"
  exit 0
fi

dir="$work/run"
mkdir -p "$dir/bin"
cp "$build/app/vistrel" "$dir/bin/"
cd "$dir"
machine "" $'clock = virtual\nescape_after_ms = 3000'

log_frames() { tr -d '\r' <CapLog.txt | sed -n 4p | sed 's/^.\{15\}//'; }

# Nothing of the run started yet: no file, no log, no message of its own.
nothing_started() {
  ! compgen -G 'VST_*.avi' >/dev/null && [ ! -e CapLog.txt ] && ! grep -q '^message: ' stderr.txt
}

# From enough downward, until the limit refuses the start-up itself: at that edge the toolkit's
# own widget code does not check every allocation and may crash, which no code of ours can mend.
recorded=0
edge=
for limit in 120000 $(seq 100000 -1000 80000); do
  case="ulimit -v $limit"
  rm -f CapLog.txt VST_*.avi
  status=0
  (ulimit -v "$limit" && PLATFORM_MACHINE="$dir/machine.ini" timeout -s KILL 60 bin/vistrel Capture) \
    2>stderr.txt || status=$?
  [ "$status" = 137 ] && fail "still running after 60 s"
  if [ "$status" != 0 ] && nothing_started; then
    edge=$limit
    break
  fi
  case $status in
    0) grep -q '^message: ' stderr.txt || compgen -G 'VST_*.avi' >/dev/null || fail "nothing recorded, nothing said" ;;
    1) grep -q 'mémoire insuffisante' stderr.txt || fail "ended without saying why" ;;
    *) fail "ended with status $status" ;;
  esac
  for file in VST_*.avi; do
    [ -e "$file" ] || continue
    [ -f CapLog.txt ] || fail "$file is left without a log"
    held=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
      -of csv=p=0 "$file")
    [ "$(log_frames)" = "$held" ] || fail "the log counts $(log_frames) frames, $file holds $held"
    errors=$(ffmpeg -nostdin -v error -xerror -i "$file" -f null - 2>&1) || fail "$file: $errors"
    recorded=$((recorded + 1))
  done
  if [ -s CapLog.txt ] && ! compgen -G 'VST_*.avi' >/dev/null; then
    [ "$(log_frames)" = 0 ] || fail "the log counts $(log_frames) frames of a file that does not exist"
  fi
done
((recorded > 0)) || fail "no limit was enough to record"
echo "PASS (the start-up itself refused at ${edge:-none of these} KiB)"
