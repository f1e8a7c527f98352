#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every start-up failure in every run mode, headless: the program shows its message and never
# crashes or hangs. Capture, Time and TV end by themselves (with a status of 0), as every run
# without a compressor does; the interactive window otherwise stays for its user (a Frame Max or
# destination it cannot use is said when a capture is asked for), and the system's request to
# end closes it normally. Without any display, every run mode says in one line how to run headless.
#   startup_failures_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Runs go in parallel: a failure leaves its mark in a file.
fail() {
  echo "FAIL ($1): $2"
  sed 's/^/  stderr: /' "$3/stderr.txt" 2>/dev/null | head -10
  echo "$1" >>"$work/failed"
}

# A settings file whose line N (counted from 0, as the program reads them) is TEXT.
settings_line() {
  for i in $(seq 0 21); do
    if [ "$i" = "$1" ]; then printf '%s\r\n' "$2"; else printf '\r\n'; fi
  done
}

# Waits up to $2 seconds for process $1; its status, or 137 once killed for taking too long.
wait_for() {
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || { wait "$1" && return 0 || return $?; }
    sleep 0.1
  done
  kill -KILL "$1"
  wait "$1" || return $?
}

# One run: FAILURE MODE MACHINE-LINES SETTINGS-LINE SETTINGS-TEXT MESSAGE. The interactive
# window is given 3 s, then asked to end; an empty MESSAGE expects none before a capture.
run() {
  local failure=$1 mode=$2 dir="$work/$1-${2:-interactive}" status=0
  mkdir -p "$dir/bin"
  cp "$build/app/vistrel" "$dir/bin/"
  [ "$4" = - ] || settings_line "$4" "$5" >"$dir/bin/Vistrel.ini"
  printf '%b\n' "[drives]\nC = fixed:$dir\nZ = fixed:/\n[display]\nbackend = machine" \
    "modes = 800x600 1024x768\n[user]\nmessages = stderr\nclock = virtual" \
    "escape_after_ms = 2000\n$3" >"$dir/machine.ini"
  cd "$dir"
  PLATFORM_MACHINE="$dir/machine.ini" bin/vistrel $mode </dev/null 2>stderr.txt &
  local pid=$!
  if [ -z "$mode" ] && [ "$failure" != no-compressor ]; then
    sleep 3
    kill -0 "$pid" 2>/dev/null || fail "$failure interactive" "ended by itself" "$dir"
    kill -TERM "$pid" 2>/dev/null || true
  fi
  wait_for "$pid" 30 || status=$?
  case $status in
    0) ;;
    137) fail "$failure ${mode:-interactive}" "still running after 30 s" "$dir" ;;
    *) fail "$failure ${mode:-interactive}" "ended with status $status" "$dir" ;;
  esac
  [ -n "$mode" ] || [ "$failure" = no-compressor ] || [ "$4" = - ] || [ "$4" -lt 7 ] || return 0
  grep -qF "message: $6" "$dir/stderr.txt" ||
    fail "$failure ${mode:-interactive}" "no message \"$6\"" "$dir"
}

# failure | [machine] lines | settings line | its text | the message shown
while IFS='|' read -r failure lines line text message; do
  for mode in "" Capture Time TV; do run "$failure" "$mode" "$lines" "$line" "$text" "$message" & done
  wait
done <<'TABLE'
no-compressor|[codecs]\nMJPG = no|-||Codec de compression
no-driver|[drivers]|-||Aucune carte d'acquisition
format-refused|[driver0]\nformat = MJPG 640x480\naccepts =|-||Votre carte d'acquisition video ne possede pas
top-not-a-number|[drivers]\n0 = testcard|2|haut|'haut' n'est pas une valeur entière correcte
left-not-a-number|[drivers]\n0 = testcard|3|gauche|'gauche' n'est pas une valeur entière correcte
frame-max-not-a-number|[drivers]\n0 = testcard|8|beaucoup|'beaucoup' n'est pas une valeur entière correcte
TABLE

# A destination refused is met only where files are written: TV shows the card all the same.
long="C:\\$(printf 'x%.0s' $(seq 250))\\"
for mode in "" Capture Time; do
  run destination-forbidden "$mode" "[drivers]\n0 = testcard" 7 'C:\a|b\' \
    "Le disque de destination des fichiers de capture contient un caractère" &
  run destination-too-long "$mode" "[drivers]\n0 = testcard" 7 "$long" \
    "Le chemin des fichiers de capture dépasserait 255 caractères" &
  wait
done
# No display at all: every run mode ends at once with status 1 and one line that says how to run
# headless, never with Qt's abort and core; the usage and the version need no display.
while read -r expected arguments; do
  name="no-display ${arguments:-(none)}" dir="$work/no-display-${arguments// /_}" status=0
  mkdir -p "$dir"
  cd "$dir"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout -s KILL 5 \
    "$build/app/vistrel" $arguments </dev/null >stdout.txt 2>stderr.txt || status=$?
  [ "$status" = "$expected" ] || fail "$name" "ended with status $status" "$dir"
  ls core* >/dev/null 2>&1 && fail "$name" "left a core" "$dir"
  if [ "$expected" = 1 ]; then
    [ "$(wc -l <stderr.txt)" = 1 ] && [ ! -s stdout.txt ] &&
      grep -q '^vistrel: .*QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE=' stderr.txt ||
      fail "$name" "not the one line on how to run without a display" "$dir"
  else
    [ ! -s stderr.txt ] && [ -s stdout.txt ] || fail "$name" "no output, or errors" "$dir"
  fi
done <<'TABLE'
1
1 -h
1 Capture
1 TV
1 Time
1 capture
1 Capture --help
0 --help
0 --version
TABLE

[ ! -f "$work/failed" ] || { echo "$(wc -l <"$work/failed") failure(s)"; exit 1; }
echo PASS
