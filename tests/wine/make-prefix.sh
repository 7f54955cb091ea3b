#!/usr/bin/env bash
# Makes the private Wine prefix the tests run in (WINEPREFIX, WINEARCH win32 or win64, WINE and
# WINESERVER from the environment), once: no Mono or Gecko prompts, Wine's null graphics driver
# so tests run without a display, and no crash debugger: a program that crashes just ends with its
# exception code (winedbg would wait for ever in a headless run).
# Usage: make-prefix.sh [null|x11]   the graphics driver: null (default) for headless tests,
#                                     x11 for runs on an (Xvfb) display that take screenshots
set -euo pipefail
: "${WINEPREFIX:?}"
driver=${1:-null}
export WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=${WINE:-wine} WINESERVER=${WINESERVER:-wineserver}
marker="$WINEPREFIX/.sfxstub-ready-2-$WINEARCH-$driver"
[ -f "$marker" ] && exit 0
unset DISPLAY
rm -rf "$WINEPREFIX"
"$WINE" wineboot -i >/dev/null 2>&1 || true
"$WINESERVER" -w
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
"$WINESERVER" -w
touch "$marker"
