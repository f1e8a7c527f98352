#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The built program, headless, where things go wrong: the disk refuses a write, the card refuses
# both picture sizes, the destination holds a forbidden character, the system asks it to end.
# Each run must leave whole files that hold what the log says, and lose or overwrite nothing.
#   faults_end_to_end_test.sh BUILD
set -euo pipefail
source "$(dirname "$0")/../support/headless.sh" "$1" ffprobe ffmpeg

# A fresh folder for each case, with the program copied in so that its settings file is its own.
start_case() {
  case=$1
  dir="$work/$case"
  mkdir -p "$dir/bin"
  cp "$build/app/vistrel" "$dir/bin/"
  cd "$dir"
}

run_program() {  # MODE; sets status
  status=0
  PLATFORM_MACHINE="$dir/machine.ini" timeout 120 "$dir/bin/vistrel" "$@" 2>stderr.txt || status=$?
}

frames_in() {
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}

decodes() {
  local errors
  errors=$(ffmpeg -v error -xerror -i "$1" -f null - 2>&1) || fail "$1 does not decode: $errors"
  [ -z "$errors" ] || fail "$1 decodes with errors: $errors"
}

log_value() { tr -d '\r' <CapLog.txt | sed -n "$1p" | sed 's/^.\{15\}//'; }

# The file and the log agree, and the file decodes.
check_recording() {
  shopt -s nullglob
  files=(VST_*.avi)
  [ "${#files[@]}" = 1 ] || fail "expected one file, found: ${files[*]:-none}"
  [ -f CapLog.txt ] || fail "no CapLog.txt"
  [ "$(log_value 2)" = "${files[0]}" ] || fail "the log names $(log_value 2)"
  local held
  held=$(frames_in "${files[0]}")
  [ "$(log_value 4)" = "$held" ] || fail "the log counts $(log_value 4) frames, the file holds $held"
  decodes "${files[0]}"
  echo "  ${files[0]}: $held frames, as logged"
}

wait_for_file() {
  for _ in $(seq 100); do
    compgen -G 'VST_*.avi' >/dev/null && [ "$(stat -c %s VST_*.avi)" -gt 100000 ] && return 0
    sleep 0.1
  done
  fail "no recording started"
}

# 1. The file size limit (`ulimit -f`, 2 MiB) stands for a full disk: the program is not killed by
# SIGXFSZ, the capture ends at the first refused write, one message names the file.
start_case full-disk
machine "noise = 100" $'clock = virtual\nescape_after_ms = 30000'
status=0
(ulimit -f 2048; PLATFORM_MACHINE="$dir/machine.ini" timeout 120 "$dir/bin/vistrel" Capture) \
  2>stderr.txt || status=$?
[ "$status" = 0 ] || fail "ended with status $status"
[ "$(grep -c '^message:' stderr.txt)" = 1 ] || fail "not exactly one message"
grep -q "^message: Écriture impossible sur le disque de destination (disque plein) : la capture est arrêtée. L'enregistrement est dans le fichier \"VST_[^\"]*\.avi\" ...$" stderr.txt ||
  fail "no message naming the file"
check_recording
(($(log_value 4) < 750)) || fail "the whole capture was counted"

# 2. A card delivering 640 x 480 Motion-JPEG that refuses both uncompressed sizes: the format
# message, then a recording labelled as what the card sends.
start_case refused-format
machine $'format = MJPG 640x480\naccepts =' $'clock = virtual\nescape_after_ms = 3000'
run_program Capture
[ "$status" = 0 ] || fail "ended with status $status"
grep -q "^message: Votre carte d'acquisition video ne possede pas la configuration adaptée" stderr.txt ||
  fail "no format message"
check_recording
probe=$(ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height \
  -of csv=p=0 VST_*.avi)
[ "$probe" = "mjpeg,640,480" ] || fail "the video is labelled $probe"

# 3. A destination holding a zero (settings line 7 "C:\keep.txt<NUL>\"), a control character or a
# character no Windows name holds: the start is refused, the file named is left as it was. The
# refused Capture run, which has no capture to end with, then closes by itself.
# Each is a printf format: \\ is one backslash, \0 a zero, \t a tab.
for destination in 'C:\\keep.txt\0\\' 'C:\\a\tb\\' 'C:\\a|b\\' 'C:\\a?b\\'; do
  start_case "destination-$(printf '%s' "$destination" | od -An -tx1 | tr -d ' \n')"
  machine "" ""
  printf 'precious' >keep.txt
  { printf '\r\n%.0s' 1 2 3 4 5 6 7; printf "$destination"; printf '\r\n'; } >bin/Vistrel.ini
  run_program Capture
  [ "$status" = 0 ] || fail "ended with status $status"
  grep -q "^message: Le disque de destination des fichiers de capture contient un caractère" \
    stderr.txt || fail "no refusal"
  [ "$(cat keep.txt)" = precious ] || fail "keep.txt was touched"
  [ -z "$(find . -name '*VST_*')" ] || fail "a recording was made: $(find . -name '*VST_*')"
done

# 4. SIGTERM, SIGINT or SIGHUP during a capture (real clock) ends it as Escape does, then the
# program closes normally, its settings saved. The same request sent again at once changes
# nothing (`timeout` signals the program and then its group; a closing terminal may hang up
# twice); only a repeat 3 seconds or more after the first forces the end.
start_program() {
  PLATFORM_MACHINE="$dir/machine.ini" "$dir/bin/vistrel" "$@" 2>stderr.txt &
  pid=$!
}

wait_status() {
  status=0
  wait "$pid" || status=$?
}

# Waits while SIGNAL is still in the process's shared pending set, not yet taken by a handler.
# Read with builtins only, so that a signal sent next follows within a fraction of a millisecond.
wait_taken() {
  local bit key value tries
  bit=$((1 << ($(kill -l "$1") - 1)))
  for ((tries = 0; tries < 100000; tries++)); do
    value=0
    while read -r key value; do [ "$key" = ShdPnd: ] && break; done <"/proc/$pid/status" ||
      return 0
    (((16#$value & bit) != 0)) || return 0
  done
}

# Sends the signals back to back. The same signal again is sent only once the program has taken
# the one before, or the two would merge into one delivery; it then arrives while the orderly end
# the first started is under way (that lasts a few milliseconds).
send_signals() {
  local signal previous=
  for signal in "$@"; do
    [ "$signal" != "$previous" ] || wait_taken "$signal"
    kill -"$signal" "$pid" 2>/dev/null || true
    previous=$signal
  done
}

check_settings_saved() {
  local left
  left=$(find bin -name 'Vistrel.ini.tmp*')
  [ -z "$left" ] || fail "the settings save was cut: $left"
  [ "$(tr -d '\r' <bin/Vistrel.ini | sed -n '3,4p' | tr '\n' ,)" = "0,0," ] ||
    fail "the window's place was not saved"
}

for signals in TERM INT HUP "TERM TERM" "HUP HUP" "TERM INT"; do
  start_case "signal-${signals// /-}"
  machine "" ""
  start_program Capture
  wait_for_file
  send_signals $signals
  wait_status
  [ "$status" = 0 ] || fail "ended with status $status"
  check_recording
  check_settings_saved
done

# A repeat 3.5 seconds after the first request forces the end, killed by that signal. The orderly
# end is held up meanwhile by its own output: it has a message to print (the settings cannot be
# saved, a folder stands in their place) on a standard error whose pipe is full and unread.
start_case forced-end
machine "" ""
mkdir bin/Vistrel.ini
mkfifo stderr.fifo
tr -d '\0' <stderr.fifo >stderr.txt &
reader=$!
PLATFORM_MACHINE="$dir/machine.ini" "$dir/bin/vistrel" Capture 2>stderr.fifo &
pid=$!
wait_for_file
kill -STOP "$reader"
dd if=/dev/zero of=stderr.fifo bs=1 count=65536 oflag=nonblock status=none 2>/dev/null || true
send_signals TERM
sleep 3.5
kill -0 "$pid" 2>/dev/null || fail "the orderly end was not held up"
send_signals TERM
wait_status
kill -CONT "$reader"
wait "$reader" || true
[ "$status" = 143 ] || fail "ended with status $status, not killed by the repeated SIGTERM"
check_recording

# A hang-up ignored from the start (nohup) stays ignored and the capture goes on; SIGTERM ends it.
start_case nohup
machine "" ""
(trap '' HUP && PLATFORM_MACHINE="$dir/machine.ini" exec "$dir/bin/vistrel" Capture) 2>stderr.txt &
pid=$!
wait_for_file
send_signals HUP
sleep 1
kill -0 "$pid" 2>/dev/null && [ ! -f CapLog.txt ] || fail "the ignored hang-up ended the capture"
send_signals TERM
wait_status
[ "$status" = 0 ] || fail "ended with status $status"
check_recording

# What a save cut short left beside the program (Vistrel.ini.tmp<pid>) is removed at the next
# start once its process is gone; a running process's is its own to finish.
start_case stale-temporaries
machine "" $'clock = virtual\nescape_after_ms = 1000'
true &
ended=$!
wait "$ended"
touch "bin/Vistrel.ini.tmp$ended" "bin/Vistrel.ini.tmp$$"
run_program Capture
[ "$status" = 0 ] || fail "ended with status $status"
[ ! -e "bin/Vistrel.ini.tmp$ended" ] || fail "the ended process's temporary is still there"
[ -e "bin/Vistrel.ini.tmp$$" ] || fail "a running process's temporary was removed"

# 5. "CapLog.txt" replaced by a link during a capture: the log is not written through it, its
# target keeps what it held, and the message says the log could not be saved and why.
start_case log-link
machine "" ""
printf 'precious' >target.txt
PLATFORM_MACHINE="$dir/machine.ini" "$dir/bin/vistrel" Capture 2>stderr.txt &
pid=$!
wait_for_file
ln -s target.txt CapLog.txt
kill -TERM "$pid"
wait_status
[ "$status" = 0 ] || fail "ended with status $status"
[ "$(cat target.txt)" = precious ] || fail "the log was written through the link"
grep -qF 'message: Impossible d'"'"'enregistrer le journal de capture "CapLog.txt" : ce n'"'"'est pas un fichier ...' \
  stderr.txt || fail "no message about the log"

# 7. A file that cannot be opened (its folder missing, its drive unknown): the message names it
# with the reason on a second line, the capture stops, and the log counts nothing for it.
while read -r case destination where reason; do
  start_case "open-$case"
  machine "" $'clock = virtual\nescape_after_ms = 3000'
  { printf '\r\n%.0s' 1 2 3 4 5 6 7; printf '%s\r\n' "$destination"; } >bin/Vistrel.ini
  run_program Capture
  [ "$status" = 0 ] || fail "ended with status $status"
  grep -A1 "^message: Erreur d'ouverture fichier ...$" stderr.txt | tail -1 |
    grep -q "^${where/DIR/$dir}VST_.*\.avi : $reason\$" || fail "no message naming the file"
  [ "$(log_value 4),$(log_value 5),$(log_value 10)" = 0,0,0 ] || fail "the log counts what no file holds"
  [ -z "$(find "$dir" -name 'VST_*')" ] || fail "a file was made"
done <<'TABLE'
missing-folder C:\absent\ DIR/absent/ dossier introuvable
unknown-drive Q:\ Q:\\ lecteur introuvable
TABLE

# 8. The destination folder deleted during a capture: noticed within a second, the capture ends
# as a refused write ends it, the message says the folder is gone, and the log names no file.
start_case folder-deleted
machine "" ""
mkdir sub
{ printf '\r\n%.0s' 1 2 3 4 5 6 7; printf 'C:\\sub\\\r\n'; } >bin/Vistrel.ini
PLATFORM_MACHINE="$dir/machine.ini" "$dir/bin/vistrel" Capture 2>stderr.txt &
pid=$!
for _ in $(seq 100); do compgen -G 'sub/VST_*.avi' >/dev/null && break; sleep 0.1; done
sleep 1
rm -rf sub
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "still capturing 5 s after its folder was deleted"
wait_status
[ "$status" = 0 ] || fail "ended with status $status"
grep -q "^message: Le dossier de destination a disparu pendant la capture" stderr.txt ||
  fail "no message about the folder"
[ ! -s CapLog.txt ] || fail "the log names a file that is gone: $(tr -d '\r' <CapLog.txt | sed -n 2p)"

# 6. A FIFO as the machine description is refused instead of blocking start-up.
start_case fifo-machine
mkfifo machine.fifo
status=0
PLATFORM_MACHINE="$dir/machine.fifo" "$dir/bin/vistrel" 2>stderr.txt &
pid=$!
for _ in $(seq 100); do grep -q 'machine description' stderr.txt && break; sleep 0.1; done
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" || status=$?
grep -q "machine description $dir/machine.fifo is not a regular file (a FIFO or a device); using the defaults" \
  stderr.txt || fail "the FIFO was not refused"
echo PASS
