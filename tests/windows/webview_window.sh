#!/usr/bin/env bash
# webview_window.sh PREFIX CABINET_DLL PROGRAM [ARGUMENTS...]: runs a window
# test program as wine.sh does, but on the display it is started on (a test
# display of its own) and in a prefix of its own, whose Wine processes end
# before the display does.
set -euo pipefail
prefix=$1
status=0
VELLUMO_WINE_KEEP_DISPLAY=1 bash "$(dirname "$0")/wine.sh" "$@" || status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
exit $status
