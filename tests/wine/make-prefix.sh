#!/usr/bin/env bash
# Makes the private 32-bit Wine prefix the tests run in (WINEPREFIX, from the environment), once:
# no Mono or Gecko prompts, Wine's null graphics driver so tests run without a display, and no
# crash debugger: a program that crashes just ends with its exception code (winedbg would wait
# for ever in a headless run).
set -euo pipefail
: "${WINEPREFIX:?}"
marker="$WINEPREFIX/.sfxstub-ready-2"
[ -f "$marker" ] && exit 0
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
wineserver -w
touch "$marker"
