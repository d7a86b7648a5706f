#!/usr/bin/env bash
# The lock-down holds in the window of a handed-off uninstall: the probe page's
# frames run nothing and its navigations go nowhere, while the page itself
# lives on. What the page opens reaches a stand-in xdg-open, which records it.
# Usage: lockdown_handoff_test.sh PROBE_PROGRAM (under xvfb-run).
set -u
. "$(dirname "$0")/../wait_for.sh"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_DATA_HOME=$root/data XDG_CONFIG_HOME=$root/config \
       XDG_STATE_HOME=$root/state XDG_CACHE_HOME=$root/cache \
       XDG_CONFIG_DIRS=$root/config-dirs XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$root/bin" && chmod 700 "$XDG_RUNTIME_DIR"
export VELLUMO_SETUP_SANDBOX=$root/sb
opened=$root/opened
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$opened" > "$root/bin/xdg-open"
chmod +x "$root/bin/xdg-open"
export PATH="$root/bin:$PATH"

install_folder="$VELLUMO_SETUP_SANDBOX/Local/Programs/Vellumo for DaVinci Resolve"
mkdir -p "$install_folder"
cp "$1" "$install_folder/uninstall.exe"

"$install_folder/uninstall.exe" --uninstall
code=$?
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ $code = 0 ] || fail "the hand-off returned $code"

wait_for 'grep -q "^https://vellumo.app/download$" "$opened" 2>/dev/null' ||
  fail "the probe page did not survive its navigation attempts"
# The page closes its window when its attempts are over; then the copy
# deletes itself, and what it opened has been recorded once no stand-in
# xdg-open runs any more.
copy_pattern="$XDG_RUNTIME_DIR/VellumoUninstall-*.exe"
wait_for '! compgen -G "$copy_pattern" > /dev/null' || fail "the copy did not end and go"
wait_for '! pgrep -f "$root/bin/xdg-open" > /dev/null' || fail "xdg-open did not end"
if grep -q '^https://vellumo.app/$' "$opened" 2>/dev/null; then
  fail "a frame ran content of its own"
fi

if [ $failures = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
