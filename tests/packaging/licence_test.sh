#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Vistrel is free software under the GNU GPL, version 2 or any later version, and every place a
# reader or a packager looks says so: COPYING, each source file's first lines, the package's
# copyright file and the AppStream metainfo.
#   licence_test.sh BUILD
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

grep -q '^ *Version 2, June 1991' "$source/COPYING" && grep -q 'GNU GENERAL PUBLIC LICENSE' "$source/COPYING" ||
  fail "COPYING is not the GNU GPL version 2"
grep -q '^License: GPL-2+$' "$source/packaging/copyright" || fail "the copyright file names another licence"
grep -q '<project_license>GPL-2.0-or-later</project_license>' "$source/packaging/org.vistrel.vistrel.metainfo.xml" ||
  fail "the metainfo names another licence"

# Code and scripts: C++, shell, CMake, the Makefile, the CI and tools scripts, the manual page.
missing=()
while IFS= read -r -d '' file; do
  head -n 3 "$file" | grep -q 'SPDX-License-Identifier: GPL-2.0-or-later' || missing+=("${file#"$source"/}")
done < <(find "$source" \( -path "$source/build*" -o -path "$source/.git" \) -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.cmake' -o -name CMakeLists.txt \
  -o -name Makefile -o -name '*.1.in' -o -path "$source/.ci/*" -o -path "$source/tools/bench" \
  -o -path "$source/tools/demo" -o -path "$source/tools/install-packages" \
  -o -path "$source/tests/devices/*" \) -print0)
((${#missing[@]} == 0)) || fail "no SPDX line in ${missing[*]}"
echo "PASS"
