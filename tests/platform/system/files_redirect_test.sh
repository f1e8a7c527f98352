#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The program installed where its user may not write: a copy in a read-only folder, run as the
# unprivileged user "nobody" with a home of its own. Its settings written to the program folder go
# to $XDG_CONFIG_HOME/NAME/ (a copy left in $XDG_DATA_HOME/NAME/, where they were once kept, is
# moved there), and its reads look there first, then beside the program.
#   files_redirect_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "skipped: needs root, to run the program as another user from a folder it may not write"
  exit 0
fi
for tool in setpriv; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 0; }
done
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
  { echo "FAIL: $*"; sed 's/^/  stderr: /' "$work/stderr.txt" 2>/dev/null | head -20; } >&2
  exit 1
}

program=$work/program
home=$work/home
mkdir -p "$program" "$home/data" "$home/config" "$home/runtime"
cp "$build/app/vistrel" "$build/tests/platform_files_redirect_test" "$program/"
cat >"$home/machine.ini" <<INI
[drivers]
0 = testcard
[drives]
C = fixed:$home
Z = fixed:/
[user]
clock = virtual
escape_after_ms = 2000
messages = stderr
INI
chmod 700 "$home/runtime"
chown -R nobody: "$program" "$home"
chmod 555 "$program"

as_user() {
  (cd "$home" && setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
    env -i PATH="$PATH" HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" \
    QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE="$home/machine.ini" "$@")
}

# The platform's file service in that folder: first read, change, read back.
as_user "$program/platform_files_redirect_test" --gtest_brief=1 2>"$work/stderr.txt" ||
  fail "the file service test failed in a read-only program folder"

# The program itself: where it records shows which settings file it read (line 7: the
# destination of the recordings; none means the working folder).
settings() { printf '\r\n%.0s' 1 2 3 4 5 6 7; printf '%s\r\n' "$1"; }
recorded_in() {
  rm -f "$home"/VST_*.avi "$home"/*/VST_*.avi
  as_user "$program/vistrel" Capture 2>"$work/stderr.txt" || fail "the program ended with $?"
  ! grep -q '^message:' "$work/stderr.txt" || fail "a message was shown"
  compgen -G "$home/$1VST_*.avi" >/dev/null
}
install -d -o nobody "$home/shipped" "$home/own"
recorded_in "" || fail "the first run, with no settings, did not record in the working folder"
# Its close saved the window's place (0, 0 after a Capture run) in the user's store.
store=$home/config/vistrel/Vistrel.ini
[ "$(head -c 10 "$store" 2>/dev/null | od -An -c | tr -d ' ')" = '\r\n\r\n0\r\n0\r\n' ] ||
  fail "the close did not save the window's place in the user's store"
rm -f "$store"

chmod 755 "$program"
settings 'C:\shipped\' >"$program/Vistrel.ini"
chmod 555 "$program"
recorded_in shipped/ || fail "the settings shipped beside the program were not read"

# The shipped run's close saved its settings in the store: an earlier version's are in the old one.
rm -f "$store"
install -d -o nobody -m 700 "$home/data/vistrel"
settings 'C:\own\' | install -o nobody -m 600 /dev/stdin "$home/data/vistrel/Vistrel.ini"
recorded_in own/ || fail "the user's own settings, in the old store, were not read first"
[ -f "$store" ] && [ ! -e "$home/data/vistrel/Vistrel.ini" ] ||
  fail "the settings in the old store were not moved to $store"
recorded_in own/ || fail "the moved settings were not read"
[ "$(ls "$program" | tr '\n' ' ')" = "Vistrel.ini platform_files_redirect_test vistrel " ] ||
  fail "the program folder holds $(ls "$program")"
echo "PASS"
