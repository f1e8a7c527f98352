#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package as a user gets it: built with `make package`'s rule, checked by lintian,
# installed with apt-get (its dependencies resolved from the distribution, the screenshots the
# package build took among its files), started from the installed launcher's command in Capture
# mode on an X server as an ordinary user, where it records a file, then purged, leaving none of
# its files behind. It installs on this machine, so it runs as root on a machine that may be
# thrown away (CI); labelled `long`.
#   package_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "skipped: installing a package needs root"
  exit 0
fi
for tool in apt-get dpkg-shlibdeps lintian Xvfb xrandr setpriv ffprobe; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
if dpkg-query -W -f='${Status}' vistrel 2>/dev/null | grep -q installed; then
  echo "skipped: a vistrel package is installed already, and this test would remove it"
  exit 0
fi
started=$(date +%s)
work=$(mktemp -d)
chmod 755 "$work"
pids=()
installed=no
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ "$installed" = no ] || apt-get -o DPkg::Lock::Timeout=900 purge -y -qq vistrel >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  { echo "FAIL: $*"; sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20; } >&2
  exit 1
}
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -qq "$@"; }

rm -f "$build"/vistrel_*.deb
cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "no package"; }
deb=$(echo "$build"/vistrel_*.deb)
[ -f "$deb" ] || fail "no vistrel_*.deb in $build"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
[[ $depends == *libqt6widgets6* && $depends == *libturbojpeg0* && $depends == *libjpeg62-turbo* &&
  $depends == *libasound2* && $depends == *fonts-freefont-ttf* ]] ||
  fail "the computed dependencies miss a run-time library or the window's font"
[[ $depends != *-dev* ]] || fail "a development package among the dependencies"

# Errors fail the test; the warnings kept are listed in the README.
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$work/lintian.txt" || fail "lintian errors"

apt_get install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }
installed=yes
dpkg -L vistrel >"$work/files.txt"
[ "$(command -v vistrel)" = /usr/bin/vistrel ] || fail "vistrel is not on the PATH"
# The metainfo's pictures, taken by the package build (Xvfb is here: this test needs it).
for name in window options capture; do
  [ -s "/usr/share/vistrel/screenshots/$name.png" ] || fail "the package has no $name.png"
done
# Help without a window: the X platform with no display would end the program otherwise.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb vistrel --help >"$work/help.txt" ||
  fail "vistrel --help did not end with 0"
grep -q PLATFORM_MACHINE "$work/help.txt" || fail "the usage does not name PLATFORM_MACHINE"
desktop-file-validate /usr/share/applications/vistrel.desktop || fail "the installed launcher"
exec_line=$(sed -n '/^\[Desktop Action Capture\]/,/^$/s/^Exec=//p' /usr/share/applications/vistrel.desktop)
[ "$exec_line" = "vistrel Capture" ] || fail "the Capture action runs '$exec_line'"

# An ordinary user on an X server whose screen can switch to 800 x 600, as Capture mode does.
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -noreset -ac >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do DISPLAY=":$n" xrandr >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=":$n" xrandr --newmode 800x600_60 40 800 840 968 1056 600 601 605 628 -hsync +vsync
DISPLAY=":$n" xrandr --addmode screen 800x600_60
home=$work/home
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
cat >"$home/machine.ini" <<INI
[drivers]
0 = testcard
[drives]
C = fixed:$home
Z = fixed:/
[user]
clock = virtual
escape_after_ms = 3000
messages = stderr
INI
chown -R nobody: "$home"
(cd "$home" && setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY=":$n" \
  PLATFORM_MACHINE="$home/machine.ini" timeout 120 $exec_line) 2>"$work/stderr.txt" ||
  fail "vistrel Capture ended with $?"
! grep -q '^message:' "$work/stderr.txt" || fail "a message was shown"
shopt -s nullglob
files=("$home"/VST_*.avi)
[ "${#files[@]}" = 1 ] || fail "expected one recording, found ${#files[@]}"
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
  -of csv=p=0 "${files[0]}") || fail "ffprobe cannot read the recording"
((frames >= 70)) || fail "the recording holds $frames frames"
[ -f "$home/CapLog.txt" ] || fail "no capture log"
echo "recorded: $(basename "${files[0]}"), $frames frames"

apt_get purge vistrel >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
installed=no
dpkg-query -W vistrel >/dev/null 2>&1 && fail "the package is still known to dpkg"
while read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after the purge"
done <"$work/files.txt"
[ ! -e /usr/share/doc/vistrel ] || fail "/usr/share/doc/vistrel is left after the purge"
[ ! -e /usr/bin/Vistrel.ini ] || fail "the program wrote beside itself in /usr/bin"
echo "PASS in $(($(date +%s) - started)) s"
