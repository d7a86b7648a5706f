#!/usr/bin/env bash
# The setup program in its real window under Xvfb: an install by a real click
# to the done screen, close refused while the job runs, Escape closing when
# idle with exit code 0, and the uninstall mode to its end. Screenshots go to
# $2. Usage: program_window_test.sh PROGRAM SCREENSHOT_DIR (under xvfb-run).
set -u
program=$1
shots=$2
mkdir -p "$shots"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_DATA_HOME=$root/data XDG_CONFIG_HOME=$root/config \
       XDG_STATE_HOME=$root/state XDG_CACHE_HOME=$root/cache XDG_DATA_DIRS=$root/data-dirs \
       XDG_CONFIG_DIRS=$root/config-dirs XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export VELLUMO_SETUP_SANDBOX=$root/sb
install_folder="$VELLUMO_SETUP_SANDBOX/Local/Programs/Vellumo for DaVinci Resolve"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A Python that answers after two seconds, so that the job runs a while.
mkdir -p "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python"
printf '#!/bin/sh\nsleep 2\nexit 0\n' > "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python/python.exe"
chmod +x "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python/python.exe"

window_id() {
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^Vellumo for DaVinci Resolve" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# Clicks at (x, y) inside the window.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
}
wait_for() { for _ in $(seq 30); do eval "$1" && return 0; sleep 0.1; done; return 1; }
running() { kill -0 "$1" 2>/dev/null; }

# The primary button sits at the bottom right of the stage.
button_x=781 button_y=513

# 1. Install by a click; Escape during the job is refused.
"$program" & pid=$!
id=$(window_id) || fail "the install window did not open"
sleep 5  # the page asks for the setup information (a 2 s probe), then enters
title=$(xdotool getwindowname "$id")
[ "$title" = "Vellumo for DaVinci Resolve — Setup" ] || fail "title is '$title'"
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$WIDTH" = 880 ] && [ "$HEIGHT" = 580 ] || fail "size ${WIDTH}x${HEIGHT}"
import -window root "$shots/window-welcome.png"
# Click until the job has begun (the page may still be entering); the install
# folder is made just before the two-second probe.
for _ in $(seq 20); do
  click "$id" $button_x $button_y
  wait_for '[ -d "$install_folder" ]' && break
done
[ -d "$install_folder" ] || fail "the Install click started nothing"
sleep 0.7  # the change to the work screen
import -window root "$shots/window-working.png"
xdotool key Escape
click "$id" 852 22   # the close button
sleep 0.5
running $pid || fail "the window closed while the job ran"
wait_for '[ -f "$install_folder/install.json" ]' || wait_for '[ -f "$install_folder/install.json" ]' ||
  fail "install.json never appeared"
sleep 3  # the done screen's entrance
import -window root "$shots/window-done.png"
for f in VellumoCompanion.exe SETUP.md uninstall.exe install.json; do
  [ -f "$install_folder/$f" ] || fail "$f was not installed"
done
xdotool key Escape
wait_for '! running $pid' || fail "Escape did not close the idle window"
wait $pid; code=$?
[ $code = 0 ] || fail "install window exit code $code"

# 2. The uninstall mode, from outside the install folder: in this process.
"$program" --uninstall & pid=$!
id=$(window_id) || fail "the uninstall window did not open"
sleep 5
title=$(xdotool getwindowname "$id")
[ "$title" = "Vellumo for DaVinci Resolve — Uninstall" ] || fail "title is '$title'"
import -window root "$shots/window-remove.png"
for _ in $(seq 20); do
  click "$id" $button_x $button_y
  wait_for '[ ! -e "$install_folder" ]' && break
done
[ ! -e "$install_folder" ] || fail "the uninstall left the install folder"
sleep 3
import -window root "$shots/window-uninstalled.png"
xdotool key Escape
wait_for '! running $pid' || fail "Escape did not close the uninstall window"
wait $pid; code=$?
[ $code = 0 ] || fail "uninstall window exit code $code"

if [ $failures = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
