#!/usr/bin/env bash
# With a display the failure message is a dialog titled "Vellumo Setup" that
# the user closes, and nothing goes to standard error. Run under xvfb-run.
#   message_dialog_test.sh PROBE
set -euo pipefail
. "$(dirname "$0")/../wait_for.sh"
probe=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home" "$root/runtime" && chmod 700 "$root/runtime"
for name in $(compgen -e | grep "^XDG_" || true); do unset "$name"; done
export HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" XDG_DATA_HOME="$root/data"
export XDG_CONFIG_HOME="$root/config" XDG_STATE_HOME="$root/state" XDG_CACHE_HOME="$root/cache"
export XDG_DATA_DIRS="$root/data-dirs" XDG_CONFIG_DIRS="$root/config-dirs"

"$probe" 2>"$root/err" &
pid=$!
window=""
if ! wait_for 'window=$(xdotool search --name "^Vellumo Setup$" 2>/dev/null | head -1 || true)
               [ -n "$window" ]'; then
  kill "$pid"; echo "no dialog titled Vellumo Setup appeared" >&2; exit 1
fi
xdotool windowfocus --sync "$window"
xdotool key Return
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "the probe ended with $status" >&2; exit 1; }
if grep -q "could not open its interface" "$root/err"; then
  echo "the message went to standard error although a display was there" >&2; exit 1
fi
