#!/usr/bin/env bash
# The test display turns no client away when its last client has just left:
# each program a window test starts after another one has closed connects in
# that moment. Clients come and go in the background meanwhile, so the display
# keeps losing its last one.
# Usage: display_keeps_accepting_test.sh (on the test display).
set -u
( while :; do xdotool getdisplaygeometry > /dev/null 2>&1; done ) &
churn=$!
trap 'kill $churn 2>/dev/null' EXIT
refused=0
for _ in $(seq 1 400); do
  xdotool getdisplaygeometry > /dev/null 2>&1 || refused=$((refused + 1))
done
[ $refused = 0 ] || { echo "the display turned away $refused of 400 connections"; exit 1; }
