# SPDX-License-Identifier: GPL-2.0-or-later
# Shared start of the scripts that run the built program headless on its test card: a work folder
# removed at exit, the offscreen platform, `fail`, which names the running $case and shows
# the stderr.txt of its folder $dir, and `machine`, which describes the test card's machine.
#   source headless.sh BUILD TOOL...   (the test is skipped, exit 0, when a tool is missing)
build=$(cd "$1" && pwd)
shift
for tool in "$@"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"

fail() {
  { echo "FAIL ($case): $*"; sed 's/^/  stderr: /' "$dir/stderr.txt" 2>/dev/null | head -20; } >&2
  exit 1
}

# machine.ini in the current folder: the test card as driver 0 with the [driver0] lines given,
# drives C: $dir and Z: /, messages on standard error, then the [user] lines given.
machine() {
  cat >machine.ini <<INI
[drivers]
0 = testcard
[driver0]
$1
[display]
backend = machine
[drives]
C = fixed:$dir
Z = fixed:/
[user]
messages = stderr
$2
INI
}
