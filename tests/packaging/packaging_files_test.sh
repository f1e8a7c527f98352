#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The files installed beside the program carry the program's version and pass their formats' own
# checkers: the launcher with its three run-mode actions, the AppStream metainfo, the manual page,
# and one icon per usual size.
#   packaging_files_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
packaging=$(cd "$(dirname "$0")/../../packaging" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

# One version, the project's: the program's, the package's, the manual page's, and the newest
# release of the metainfo and of the changelog.
version=$(sed -n 's/^project(Vistrel VERSION \([^ ]*\) .*/\1/p' "$packaging/../CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
while read -r place found; do
  [ "$found" = "$version" ] || fail "$place says '$found', the project $version"
done <<VERSIONS
--version $("$build/app/vistrel" --version | sed -n 's/^vistrel //p')
package $(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
manual-page $(sed -n '/^\.TH/s/.*"Vistrel \([^"]*\)".*/\1/p' "$build/packaging/vistrel.1")
metainfo $(grep -o -m1 '<release version="[^"]*"' "$packaging/org.vistrel.vistrel.metainfo.xml" | cut -d'"' -f2)
changelog $(sed -n '1s/^vistrel (\(.*\)).*/\1/p' "$packaging/changelog")
VERSIONS

for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done

desktop-file-validate "$packaging/vistrel.desktop" || fail "vistrel.desktop"
[ "$(sed -n 's/^Actions=//p' "$packaging/vistrel.desktop")" = "Capture;TV;Time;" ] ||
  fail "the launcher's actions are not the three run modes"
appstreamcli validate --no-net --pedantic "$packaging/org.vistrel.vistrel.metainfo.xml" ||
  fail "the metainfo"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$build/packaging/vistrel.1" 2>&1 >/dev/null)
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
