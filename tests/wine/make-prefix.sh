#!/usr/bin/env bash
# Makes the private 32-bit Wine prefix the tests run in (WINEPREFIX, from the environment), once:
# no Mono or Gecko prompts, Wine's null graphics driver so tests run without a display, and no
# crash debugger: a program that crashes just ends with its exception code (winedbg would wait
# for ever in a headless run).
# Usage: make-prefix.sh [null|x11]   the graphics driver: null (default) for headless tests,
#                                     x11 for runs on an (Xvfb) display that take screenshots
set -euo pipefail
: "${WINEPREFIX:?}"
driver=${1:-null}
marker="$WINEPREFIX/.sfxstub-ready-2-$driver"
[ -f "$marker" ] && exit 0
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
wineserver -w
touch "$marker"
