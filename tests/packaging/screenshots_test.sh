#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The metainfo's screenshots as tools/screenshots.sh takes them from the built program: the three
# pictures the metainfo names, in its order, PNGs of the sizes it gives; the window as it starts
# (its skin where no control is), then with the options panel open over it, then a recording in
# Capture mode over the whole screen. Skipped where the script's X tools are not installed.
#   screenshots_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
metainfo="$root/packaging/org.vistrel.vistrel.metainfo.xml"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

status=0
bash "$root/tools/screenshots.sh" "$build/app/vistrel" "$work/shots" || status=$?
[ "$status" != 77 ] || { echo "skipped: an X tool the screenshots need is not installed"; exit 0; }
[ "$status" = 0 ] || fail "tools/screenshots.sh ended with status $status"

# name, width and height, as the metainfo lists them: "SIZE name" lines.
listed=$(sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">https://vistrel.example.org/screenshots/\([^<]*\)</image>.*|\1x\2 \3|p' "$metainfo")
expected="593x485 window.png
593x485 options.png
800x600 capture.png"
[ "$listed" = "$expected" ] || fail "the metainfo lists: $listed"

# A PNG's signature, then its width and height as the big-endian words at bytes 16 and 20.
while read -r size name; do
  shot="$work/shots/$name"
  [ -s "$shot" ] || fail "no $name"
  [ "$(od -An -tx1 -N8 "$shot" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$name is no PNG"
  found=$(od -An -tu1 -j16 -N8 "$shot" |
    awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
  [ "$found" = "$size" ] || fail "$name is $found, not $size"
done <<<"$expected"

# The window's free surface shows the skin; the options panel covers part of it.
check="$build/tests/skin_screenshot_check"
"$check" "$work/shots/window.png" >/dev/null 2>&1 || fail "window.png is not the window as it starts"
"$check" "$work/shots/options.png" options >/dev/null 2>&1 ||
  fail "options.png is not the window with its options panel"
! "$check" "$work/shots/options.png" >/dev/null 2>&1 || fail "options.png shows no options panel"
# The test card's bars and grey ramp, not a screen left black.
colours=$(convert "$work/shots/capture.png" -format %k info:)
[ "$colours" -ge 100 ] || fail "capture.png has only $colours colours"
echo "PASS: $(ls "$work/shots" | tr '\n' ' ')"
