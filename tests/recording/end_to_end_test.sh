#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The built program records headless in Capture mode on the virtual clock and closes itself: its
# file is whole, holds what the log says, keeps picture and sound in step, and the log is
# Windows-1252 text with CR LF line ends.
#   end_to_end_test.sh BUILD             ten seconds, one file
#   end_to_end_test.sh BUILD rollover    past 2,099,200,000 bytes: a second file (over 2 GB on disk)
#   end_to_end_test.sh BUILD large       frames of 5 MB (a 3840 x 2160 card with grain, recorded as
#                                        it delivers): a second file before the AVI 1.0 limit
set -euo pipefail
build=$(cd "$1" && pwd)
mode=${2:-short}
for tool in ffprobe ffmpeg iconv; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# On standard error, so that a failure inside a command substitution is seen too.
fail() {
  { echo "FAIL: $*"; sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20; } >&2
  exit 1
}

# Noise gives the frames analogue-like JPEG sizes, so the roll-over comes after less capture.
escape_ms=10000 noise=0 card='' picture=384,288
[ "$mode" = rollover ] && escape_ms=240000 noise=100
[ "$mode" = large ] && escape_ms=20000 noise=100 card=$'format = MJPG 3840x2160\naccepts =' picture=3840,2160
cat >machine.ini <<INI
[drivers]
0 = testcard
[driver0]
noise = $noise
$card
[drives]
C = fixed:$work
Z = fixed:/
[user]
clock = virtual
escape_after_ms = $escape_ms
messages = stderr
INI

started=$(date +%s)
status=0
QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE="$work/machine.ini" \
  timeout 1800 "$build/app/vistrel" Capture 2>stderr.txt || status=$?
echo "capture of $((escape_ms / 1000)) s on the virtual clock took $(($(date +%s) - started)) s"
[ "$status" = 0 ] || fail "the program ended with status $status"
# The large card offers neither recordable size: its format message is the only one expected.
grep '^message:' stderr.txt | grep -v "^message: Votre carte d'acquisition video ne possede pas" |
  grep -q . && fail "a message was shown"

shopt -s nullglob
files=(VST_*.avi)
expected=1
[ "$mode" != short ] && expected=2
[ "${#files[@]}" = "$expected" ] || fail "expected $expected files, found: ${files[*]:-none}"

# The name: no colon or slash left from the locale's date and time, numbered from 0.
for i in $(seq 0 $((expected - 1))); do
  f=$(printf '%s\n' "${files[@]}" | grep "_$i\.avi\$") || fail "no file numbered $i"
  [[ $f =~ ^VST_[^:/]+_[^:/]+_$i\.avi$ ]] || fail "unexpected name $f"
done

# Each file is whole: every indexed frame can be read and decoded without error.
check_file() {
  local f=$1 probe video audio
  probe=$(ffprobe -v error -count_frames -show_entries \
    stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate,channels,nb_frames,nb_read_frames \
    -of compact=p=0:nk=0 "$f") || fail "ffprobe cannot read $f"
  video=$(grep 'codec_type=video' <<<"$probe")
  audio=$(grep 'codec_type=audio' <<<"$probe")
  [[ $video == *codec_name=mjpeg*width=${picture%,*}*height=${picture#*,}*r_frame_rate=25/1* ]] ||
    fail "$f video: $video"
  [[ $audio == *codec_name=pcm_s16le*sample_rate=44100*channels=2* ]] || fail "$f audio: $audio"
  local frames read
  frames=$(sed -n 's/.*|nb_frames=\([0-9]*\).*/\1/p' <<<"$video")
  read=$(sed -n 's/.*nb_read_frames=\([0-9]*\).*/\1/p' <<<"$video")
  [ "$frames" = "$read" ] || fail "$f: $frames frames indexed, $read readable"
  local errors
  errors=$(ffmpeg -v error -xerror -i "$f" -f null - 2>&1) || fail "$f does not decode: $errors"
  [ -z "$errors" ] || fail "$f decodes with errors: $errors"
  echo "$frames"
}

# The log: one block of ten lines per file, each line ending in CR LF.
[ -f CapLog.txt ] || fail "no CapLog.txt"
[ "$(tail -c 2 CapLog.txt | od -An -c | tr -d ' ')" = '\r\n' ] || fail "the log's last line has no CR LF"
lines=$(iconv -f WINDOWS-1252 -t UTF-8 CapLog.txt | tr -d '\r')
[ "$(grep -c $'\r$' CapLog.txt)" = "$((10 * expected))" ] || fail "not $((10 * expected)) CR LF lines"
[ "$(wc -l <<<"$lines")" = "$((10 * expected))" ] || fail "not $((10 * expected)) lines"

value() { sed -n "$(($1 * 10 + $2))p" <<<"$lines" | sed 's/^.\{15\}//'; }
for i in $(seq 0 $((expected - 1))); do
  f=$(printf '%s\n' "${files[@]}" | grep "_$i\.avi\$")
  frames=$(check_file "$f")
  [ "$(sed -n "$((i * 10 + 1))p" <<<"$lines")" = "$(printf -- '-%.0s' $(seq 51))" ] || fail "block $i rule"
  [ "$(value "$i" 2)" = "$f" ] || fail "block $i names $(value "$i" 2), not $f"
  [[ $(value "$i" 3) =~ ^[0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || fail "block $i time $(value "$i" 3)"
  # A full file's block is written at the roll-over; the next frame may still add one to it.
  logged=$(value "$i" 4)
  if ((i == expected - 1)); then extra=0; else extra=1; fi
  ((logged <= frames && frames <= logged + extra)) ||
    fail "block $i counts $logged frames, the file holds $frames"
  [ "$(value "$i" 6)" = 0 ] || fail "block $i Drop 1 is $(value "$i" 6)"
  kib=$(value "$i" 10)
  size=$(stat -c %s "$f")
  ((kib > 0 && kib * 1024 <= size)) || fail "block $i size $kib KiB for a file of $size bytes"
  if [ "$mode" = large ] && [ "$i" = 0 ]; then
    ((size < 2147483648)) || fail "the first file is $size bytes, past what RIFF sizes hold"
  fi
  if [ "$mode" = rollover ] && [ "$i" = 0 ]; then
    ((kib >= 2050000)) || fail "the first file rolled over at $kib KiB"
    ((size < 2147483648)) || fail "the first file is $size bytes, past what RIFF sizes hold"
  fi
done
echo "files: ${files[*]}"
iconv -f WINDOWS-1252 -t UTF-8 CapLog.txt | tr -d '\r' | sed 's/^/  /'

# Picture and sound: every flash within -60 ... +45 ms of its beep; on the virtual clock every
# file of a rolled-over capture starts in step as the first does, within half a frame.
within=(-60 45)
[ "$mode" != short ] && within=(-20 20)
"$build/tools/vistrel_avsync" --within "${within[@]}" "${files[@]}" || fail "picture and sound out of step"
echo "PASS"
