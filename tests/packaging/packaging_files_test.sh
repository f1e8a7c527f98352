#!/usr/bin/env bash
# The files installed beside the program pass their formats' own checkers: the launcher with its
# three run-mode actions, the AppStream metainfo, the manual page, and one icon per usual size.
#   packaging_files_test.sh BUILD
set -euo pipefail
packaging=$(cd "$(dirname "$0")/../../packaging" && pwd)
for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$packaging/vistrel.desktop" || fail "vistrel.desktop"
[ "$(sed -n 's/^Actions=//p' "$packaging/vistrel.desktop")" = "Capture;TV;Time;" ] ||
  fail "the launcher's actions are not the three run modes"
appstreamcli validate --no-net --pedantic "$packaging/org.vistrel.vistrel.metainfo.xml" ||
  fail "the metainfo"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$packaging/vistrel.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page: $warnings"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 22 24 32 48 64 128 256; do
  icon="$packaging/icons/${size}x${size}/vistrel.png"
  [ -f "$icon" ] || fail "no $icon"
  read -r width height < <(od -An -tu1 -j16 -N8 "$icon" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$width x $height" = "$size x $size" ] || fail "$icon is $width x $height"
done
echo "PASS"
