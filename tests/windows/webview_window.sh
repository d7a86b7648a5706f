#!/usr/bin/env bash
# webview_window.sh PREFIX CABINET_DLL PROGRAM [ARGUMENTS...]: runs a window
# test program as wine.sh does, but on an Xvfb display of its own and in a
# prefix of its own, whose Wine processes end with the display. -noreset: see
# the virtual display of tests/CMakeLists.txt.
set -euo pipefail
prefix=$1
here=$(dirname "$0")
status=0
VELLUMO_WINE_KEEP_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  bash "$here/wine.sh" "$@" || status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
exit $status
