#!/usr/bin/env bash
# The built program, headless, in Capture mode under address-space limits (`ulimit -v`) from
# barely enough to start to enough to record: wherever the limit refuses memory (a thread's stack,
# the stream's format, the first write, the capture's buffers), the run ends by itself with a
# message, never a hang or an abort, and leaves only files that hold what the log says.
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

recorded=0
for limit in $(seq 86000 1000 100000) 120000; do
  case="ulimit -v $limit"
  rm -f CapLog.txt VST_*.avi
  status=0
  (ulimit -v "$limit" && PLATFORM_MACHINE="$dir/machine.ini" timeout -s KILL 60 bin/vistrel Capture) \
    2>stderr.txt || status=$?
  case $status in
    0) grep -q '^message: ' stderr.txt || compgen -G 'VST_*.avi' >/dev/null || fail "nothing recorded, nothing said" ;;
    1) grep -q 'mémoire insuffisante' stderr.txt || fail "ended without saying why" ;;
    137) fail "still running after 60 s" ;;
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
echo PASS
