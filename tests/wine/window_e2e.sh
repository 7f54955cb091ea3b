#!/usr/bin/env bash
# A package run with its progress window, on a private Xvfb display with Wine's X11 driver:
# screenshots are taken while it checks and extracts a 48 MiB file, and at least one of them
# must show the window (not the bare desktop). The best one is kept as
# window-while-extracting.png in the work folder. Exit 77: a tool is missing (skipped).
# Environment: SFXPACK, SFXSTUB_EXE, SFXRUN_EXE, SFXPROBE_EXE, SIGNER_KEY; argument: work folder.
set -euo pipefail
work=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in xvfb-run import convert identify "${WINE:-wine}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
# shellcheck source=lib.sh
. "$here/lib.sh"

mkdir -p "$work"
export WINEPREFIX="$work/wineprefix-x11" WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
bash "$here/make-prefix.sh" x11

cd "$work"
rm -rf shots temp payload package.exe window-while-extracting.png
mkdir -p shots temp payload
head -c $((48 << 20)) /dev/urandom >payload/big.bin
"$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$SFXPROBE_EXE" \
  --raw "big.bin=$work/payload/big.bin" --cmdline '%CMDLINE%' -o package.exe >/dev/null

W_PKG=$(winpath "$work/package.exe")
W_TEMP=$(winpath "$work/temp")
export W_PKG W_TEMP
# shellcheck disable=SC2016  # expanded by the inner shell
xvfb-run -a -s "-screen 0 800x600x24 -br" bash -c '
  "${WINE:-wine}" "$SFXRUN_EXE" --set "TEMP=$W_TEMP" --set "TMP=$W_TEMP" "$W_PKG" "\"$W_PKG\"" >run.txt &
  pid=$!
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 150 ]; do
    import -window root "shots/$(printf %03d $i).png" 2>/dev/null || true
    i=$((i + 1))
  done
  wait "$pid"
  "${WINESERVER:-wineserver}" -k 2>/dev/null || true'

tr -d '\r' <run.txt
grep -q '^exit=0x00000000$' <(tr -d '\r' <run.txt) || { echo "the package did not end with 0"; exit 1; }
grep -q '^report=none$' <(tr -d '\r' <run.txt) || { echo "an error report was shown"; exit 1; }

# The desktop is black (-br); a shot with the window has many colours. Keep the richest one.
best="" best_k=0
for shot in shots/*.png; do
  [ -f "$shot" ] || continue
  k=$(identify -format '%k' "$shot" 2>/dev/null || echo 0)
  if [ "$k" -gt "$best_k" ]; then best=$shot best_k=$k; fi
done
echo "$(find shots -name '*.png' | wc -l) screenshots, the richest has $best_k colours"
[ "$best_k" -ge 6 ] || { echo "no screenshot shows the window"; exit 1; }
convert "$best" -trim +repage window-while-extracting.png
echo "saved $work/window-while-extracting.png ($(identify -format '%wx%h' window-while-extracting.png))"
[ -z "$(ls temp)" ] || { echo "the working folder was left in TEMP"; exit 1; }
rm -rf payload package.exe shots  # 100 MB that nobody needs once the picture is kept
