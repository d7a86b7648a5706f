#!/usr/bin/env bash
# The setup program in its real window under Xvfb: an install by a real click
# to the done screen, close refused while the job runs, Escape closing when
# idle with exit code 0, and the uninstall mode to its end. Screenshots go to
# $2. The install job is held at its first file in the install folder by
# step_shim ($3) until the test lets it go, so that it runs for as long as the
# test needs. Every wait is for what the window shows or the program does,
# each with the limit of wait_for.sh: the machine may be loaded.
# Usage: program_window_test.sh PROGRAM SCREENSHOT_DIR STEP_SHIM (under xvfb-run).
set -u
. "$(dirname "$0")/../wait_for.sh"
program=$1
shots=$2
shim=$3
mkdir -p "$shots"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_DATA_HOME=$root/data XDG_CONFIG_HOME=$root/config \
       XDG_STATE_HOME=$root/state XDG_CACHE_HOME=$root/cache XDG_DATA_DIRS=$root/data-dirs \
       XDG_CONFIG_DIRS=$root/config-dirs XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export VELLUMO_SETUP_SANDBOX=$root/sb
install_folder="$VELLUMO_SETUP_SANDBOX/Local/Programs/Vellumo for DaVinci Resolve"
gate=$root/gate
mkdir -p "$gate"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A Python that answers at once.
mkdir -p "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python"
printf '#!/bin/sh\nexit 0\n' > "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python/python.exe"
chmod +x "$VELLUMO_SETUP_SANDBOX/ProgramFiles/Python/python.exe"

window_id() {
  local id=
  wait_for 'id=$(xdotool search --onlyvisible --name "^Vellumo for DaVinci Resolve" 2>/dev/null |
                 head -1); [ -n "$id" ]' && echo "$id"
}
# Whether a pixel of the rectangle W x H at (x, y) inside the window is of
# the colour CONDITION tells (an awk test of red $3, green $4 and blue $5).
shows() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -silent -window root -crop "$4x$5+$((X + $2))+$((Y + $3))" -depth 8 txt:- |
    awk -F'[(,)]' "/^[0-9]/ && $6 { found = 1 } END { exit !found }"
}
# The page's peach, fully drawn (an entrance fades it in), and the red of the
# close button under the pointer.
peach='$3 >= 208 && $4 >= 152 && $5 >= 112 && $3 - $5 >= 40'
close_red='$3 >= 150 && $4 < 100 && $3 - $4 >= 80'
# The screens, each by what only it shows: the primary button at the bottom
# right (at its right end, which no label reaches), the work screen's
# progress ring at its top, and the last step of the journey beside it,
# which the done screen marks.
primary_shown() { shows "$1" 814 508 10 10 "$peach"; }
work_shown() { shows "$1" 570 118 20 22 "$peach"; }
done_shown() { shows "$1" 33 402 30 30 "$peach"; }
close_hovered() { shows "$1" 837 10 8 8 "$close_red"; }
# Clicks at (x, y) inside the window.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
}
running() { kill -0 "$1" 2>/dev/null; }
# Ends the test when the program's window is not there, with what the program
# did and what the display shows.
no_window() {
  fail "$1"
  if running $pid; then echo "The program still runs."; else wait $pid; echo "The program ended with $?."; fi
  echo "Its standard error:"
  cat "$root/stderr"
  echo "The display's windows:"
  xdotool search --name . getwindowname %@ 2>&1 | head -20
  import -window root "$shots/no-window.png"
  kill $pid 2>/dev/null
  exit 1
}
held() { compgen -G "$gate/held-*" > /dev/null; }

# The primary button sits at the bottom right of the stage.
button_x=781 button_y=513

# 1. Install by a click; Escape during the job is refused.
LD_PRELOAD=$shim VELLUMO_STEPS_GATE=$gate VELLUMO_STEPS_UNDER=$install_folder "$program" 2> "$root/stderr" & pid=$!
id=$(window_id) || no_window "the install window did not open"
# The page asks for the setup information, then enters.
wait_for 'primary_shown "$id"' || fail "the welcome screen did not show"
title=$(xdotool getwindowname "$id")
[ "$title" = "Vellumo for DaVinci Resolve — Setup" ] || fail "title is '$title'"
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$WIDTH" = 880 ] && [ "$HEIGHT" = 580 ] || fail "size ${WIDTH}x${HEIGHT}"
import -window root "$shots/window-welcome.png"
click "$id" $button_x $button_y
wait_for held || fail "the Install click started nothing"
wait_for 'work_shown "$id"' || fail "the work screen did not show"
import -window root "$shots/window-working.png"
xdotool key Escape
click "$id" 852 22   # the close button
# The pointer leaves the button after the key and the click: once the page
# has drawn that, it has had both.
wait_for 'close_hovered "$id"' || fail "the close button never showed the pointer"
xdotool mousemove_relative -- -300 200
wait_for '! close_hovered "$id"' || fail "the close button kept its hover"
running $pid || fail "the window closed while the job ran"
touch "$gate/open"
wait_for '[ -f "$install_folder/install.json" ]' || fail "install.json never appeared"
wait_for 'done_shown "$id"' || fail "the done screen did not show"
import -window root "$shots/window-done.png"
for f in VellumoCompanion.exe SETUP.md uninstall.exe install.json; do
  [ -f "$install_folder/$f" ] || fail "$f was not installed"
done
xdotool key Escape
wait_for '! running $pid' || fail "Escape did not close the idle window"
wait $pid; code=$?
[ $code = 0 ] || fail "install window exit code $code"

# 2. The uninstall mode, from outside the install folder: in this process.
"$program" --uninstall 2> "$root/stderr" & pid=$!
id=$(window_id) || no_window "the uninstall window did not open"
wait_for 'primary_shown "$id"' || fail "the remove screen did not show"
title=$(xdotool getwindowname "$id")
[ "$title" = "Vellumo for DaVinci Resolve — Uninstall" ] || fail "title is '$title'"
import -window root "$shots/window-remove.png"
click "$id" $button_x $button_y
wait_for '[ ! -e "$install_folder" ]' || fail "the uninstall left the install folder"
wait_for 'done_shown "$id"' || fail "the uninstalled screen did not show"
import -window root "$shots/window-uninstalled.png"
xdotool key Escape
wait_for '! running $pid' || fail "Escape did not close the uninstall window"
wait $pid; code=$?
[ $code = 0 ] || fail "uninstall window exit code $code"

if [ $failures = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
