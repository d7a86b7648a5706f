#!/usr/bin/env bash
# wine.sh PREFIX CABINET_DLL PROGRAM [ARGUMENTS...]: runs a Windows test program
# under Wine in the test prefix PREFIX, made on first use (about ten seconds),
# with the stand-in CABINET_DLL as its system32\cabinet.dll, preferred over
# Wine's own. Test programs find their temporary folder in VELLUMO_TEST_TMP.
set -euo pipefail
prefix=$1 cabinet=$2
shift 2

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# Headless: a message box returns at once instead of waiting for a click. The
# window tests keep their display (webview_window.sh).
if [ -z "${VELLUMO_WINE_KEEP_DISPLAY:-}" ]; then unset DISPLAY WAYLAND_DISPLAY; fi
# No Mono or Gecko installer prompts; nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$(dirname "$prefix")"
{
  flock 9
  if [ ! -f "$prefix/.made" ]; then
    rm -rf "$prefix"
    wine wineboot --init >/dev/null 2>&1
    wineserver --wait
    touch "$prefix/.made"
  fi
  system32=$prefix/drive_c/windows/system32
  cmp -s "$cabinet" "$system32/cabinet.dll" || cp "$cabinet" "$system32/cabinet.dll"
} 9>"$prefix.lock"

# Wine would load its own bcrypt and dwmapi wherever a file of that name lies;
# preferring files, as Windows does, lets a test see one planted beside the
# program load if the program ever looked there. (The files in system32 are
# Wine's placeholders, which still give its own.) Only the DLLs the program
# loads itself: Wine's own DLLs import others, such as version.dll, through
# the program's folder.
export WINEDLLOVERRIDES="cabinet=n;bcrypt,dwmapi=n,b;$WINEDLLOVERRIDES"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vellumo-wine.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export VELLUMO_TEST_TMP="Z:${tmp//\//\\}"
status=0
wine "$@" || status=$?
exit $status
