#!/usr/bin/env bash
# The stub end to end: sets the machine up, builds, packs a small setup package signed with the
# test signer's key, runs it under Wine quietly (/verysilent) and shows what its setup program
# saw and the exit code; then runs a damaged copy and shows the stub's error report; then runs
# a larger package with its progress window on a virtual X display (Xvfb) and saves screenshots
# taken while it works under build/demo/screenshots/.
#
# usage: scripts/demo.sh [--no-window]
#   --no-window  skip the run with the progress window
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
with_window=1
[ "${1:-}" = "--no-window" ] && with_window=0

say() { printf '\n== %s\n' "$*"; }

# shellcheck source=lib/host-i386.sh
. scripts/lib/host-i386.sh
# shellcheck source=../tests/wine/lib.sh
. tests/wine/lib.sh

# The 32-bit stub is the default; a host that cannot execute 32-bit programs runs the 64-bit one.
kind=${SFXDEMO_STUB:-win32}
if [ "$kind" = win32 ] && ! host_runs_i386; then
  say "Using the 64-bit stub: $I386_REASON"
  kind=win64
fi

# SFXDEMO_NATIVE and SFXDEMO_WIN32 / SFXDEMO_WIN64 name other build folders; SFXDEMO_SKIP_BUILD=1
# uses them as they are. SFXDEMO_STUB=win64 runs the 64-bit stub even where 32-bit programs run.
native=${SFXDEMO_NATIVE:-$root/build/native}
if [ -z "${SFXDEMO_SKIP_BUILD:-}" ]; then
  # Only what the demo runs: the native tools, and the one stub with the harness that runs it.
  say "Setting up the machine and building (sfxpack, sfxgen; the $kind stub, sfxrun, sfxprobe)"
  bash scripts/setup-machine.sh
  bash scripts/build.sh native:sfxpack,sfxgen "$kind:sfxstub,sfxrun,sfxprobe"
fi

if [ "$kind" = win64 ]; then
  windows=${SFXDEMO_WIN64:-$root/build/win64}
  STUB=$windows/sfxstub/main/sfxstub64.exe
  export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  export WINELOADER=$WINE
else
  windows=${SFXDEMO_WIN32:-$root/build/win32}
  STUB=$windows/sfxstub/main/sfxstub.exe
  export WINEARCH=win32 WINE=wine WINESERVER=wineserver
fi
echo "stub: $STUB"

SFXPACK=$native/tools/sfxpack/sfxpack
SFXRUN=$windows/tests/wine/sfxrun.exe
SETUP=$windows/tests/wine/sfxprobe.exe   # a stand-in setup program: it writes down what it saw
KEY=$root/keys/test-signer/signer-private.pem

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/payload" "$demo/temp" "$demo/seen"
printf 'Thank you for trying sfxstub.\r\n' >"$demo/payload/readme.txt"
printf '[settings]\r\nlanguage=en\r\n' >"$demo/payload/setup.ini"
head -c 200000 /dev/urandom >"$demo/payload/data.bin"

say "Packing build/demo/demo-setup.exe"
template='/sfx /sfxstorage "%TMPPATH%" %CMDLINE%'
"$SFXPACK" pack --stub "$STUB" --key "$KEY" --main "$SETUP" \
  --raw "readme.txt=$demo/payload/readme.txt" --raw "setup.ini=$demo/payload/setup.ini" \
  --file "data.bin=$demo/payload/data.bin" --cmdline "$template" --force -o "$demo/demo-setup.exe"
echo "command-line template: $template"
"$SFXPACK" list "$demo/demo-setup.exe" || true

export WINEPREFIX=$windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
bash tests/wine/make-prefix.sh

# run PACKAGE TAIL: runs it through sfxrun with a private TEMP; prints sfxrun's lines.
run() {
  local package=$1 tail=$2
  "$WINE" "$SFXRUN" --set "TEMP=$(winpath "$demo/temp")" --set "TMP=$(winpath "$demo/temp")" \
    --set "SFXPROBE_REPORT=$(winpath "$demo/seen/report.txt")" \
    "$(winpath "$package")" "\"$(winpath "$package")\" $tail" | tr -d '\r'
}

say "Running: demo-setup.exe /verysilent /lang=en"
result=$(run "$demo/demo-setup.exe" '/verysilent /lang=en')
echo "The setup program saw:"
sed -n -e 's/^cmdline=/  command line:  /p' -e 's/^cwd=/  current folder: /p' \
       -e 's/^self=/  its own file:  /p' -e 's/^file=\(.*\) \([0-9]*\) [0-9]*$/  file in its folder: \1 (\2 bytes)/p' \
       "$demo/seen/report.txt"
echo "The stub exited with: $(sed -n 's/^exit=//p' <<<"$result")   error report: $(sed -n 's/^report=//p' <<<"$result")"
if working_folders_in "$demo/temp"; then
  echo "working folder left behind in TEMP!"
else
  echo "The working folder is gone from TEMP."
fi

say "Running a damaged copy (one byte changed): the signature check refuses it"
cp "$demo/demo-setup.exe" "$demo/damaged-setup.exe"
size=$(stat -c %s "$demo/damaged-setup.exe")
printf '\x5A' | dd of="$demo/damaged-setup.exe" bs=1 seek=$((size / 2)) conv=notrunc status=none
result=$(run "$demo/damaged-setup.exe" '/verysilent')
echo "The stub exited with: $(sed -n 's/^exit=//p' <<<"$result")"
echo "Its message box \"Setup Selfextract\" said:"
sed -n 's/^report=//p' <<<"$result" | sed 's/\\n/\n/g' | sed 's/^/  | /'

if [ "$with_window" = 1 ]; then
  say "Running with the progress window on a virtual display (screenshots in build/demo/screenshots)"
  # A prefix of its own with Wine's X11 driver (the test prefix uses the null driver), made once.
  export WINEPREFIX=$root/build/demo-wineprefix-x11-$kind
  bash tests/wine/make-prefix.sh x11
  mkdir -p "$demo/screenshots"
  head -c 60000000 /dev/urandom >"$demo/payload/big.bin"
  "$SFXPACK" pack --stub "$STUB" --key "$KEY" --main "$SETUP" \
    --raw "big.bin=$demo/payload/big.bin" --cmdline "$template" --force -o "$demo/window-setup.exe"
  # shellcheck disable=SC2016  # expanded by the inner shell
  xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    "$WINE" "$1" "$2" "\"$2\"" >"$3/run.txt" &
    pid=$!
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do
      import -window root "$3/shot-$(printf %03d $i).png" 2>/dev/null || true
      i=$((i + 1))
    done
    wait "$pid"
    "$WINESERVER" -k 2>/dev/null || true' _ "$SFXRUN" "$(winpath "$demo/window-setup.exe")" "$demo/screenshots"
  # Keep the pictures that show something besides the empty desktop.
  for shot in "$demo"/screenshots/*.png; do
    [ "$(identify -format '%k' "$shot" 2>/dev/null || echo 0)" -gt 1 ] || rm -f "$shot"
  done
  echo "The stub exited with: $(tr -d '\r' <"$demo/screenshots/run.txt" | sed -n 's/^exit=//p')"
  rm -f "$demo/screenshots/run.txt"
  echo "$(find "$demo/screenshots" -name '*.png' | wc -l) screenshots with the window saved in build/demo/screenshots"
fi
say "Done"
