#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The lower folders include nothing from the folders above them: what each may include of the
# project, itself first. A header of the window's folder reached from below would let its code
# call upward again unseen, as every program folder's headers are found from the project's root.
#   folder_layers_test.sh BUILD
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
failed=0
while read -r folder allowed; do
  while IFS=: read -r file line include; do
    top=$(sed -n 's/^#include "\([^/"]*\)\/.*/\1/p' <<<"$include")
    [ -z "$top" ] || [[ " $allowed " == *" $top "* ]] && continue
    echo "FAIL: $file:$line includes $top/, above $folder/" >&2
    failed=1
  done < <(cd "$root" && grep -rn '^#include "' "$folder" --include='*.cpp' --include='*.h' || true)
done <<'LAYERS'
capture capture platform
settings settings capture platform
recording recording platform
resources resources
platform platform
LAYERS
exit $failed
