#!/usr/bin/env bash
# Takes a picture of the running progress window: Wine with its X11 driver in a private prefix,
# on a private Xvfb display. Checks that the window's area has the window's size and is not
# blank, and keeps the crop as OUT_PNG.
# Usage: screenshot_test.sh WORK_DIR DEMO_EXE OUT_PNG    (exit 77: tools missing, skipped)
set -euo pipefail
work=$1 demo=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in xvfb-run import convert identify "${WINE:-wine}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
mkdir -p "$work"
export WINEPREFIX="$work/wineprefix-x11" WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# The shared test prefix runs the null driver; this one, made once like it, the X11 driver.
bash "$here/../../tests/wine/make-prefix.sh" x11

cd "$work"
rm -f ready "done" shot.png
export demo
# shellcheck disable=SC2016  # expanded by the inner shell
xvfb-run -a -s "-screen 0 800x600x24 -br" bash -c '
  "${WINE:-wine}" "$demo" ready done &
  pid=$!
  for i in $(seq 600); do [ -s ready ] && break; sleep 0.1; done
  status=0
  if [ -s ready ]; then import -window root shot.png || status=1; else echo "no window"; status=1; fi
  touch done
  wait $pid || status=1
  "${WINESERVER:-wineserver}" -k 2>/dev/null || true
  exit $status'

read -r left top width height < <(tr -d "\r" < ready)
echo "window at ($left, $top), $width x $height"
convert shot.png -crop "${width}x${height}+${left}+${top}" +repage "$out"
size=$(identify -format '%w %h' "$out")
[ "$size" = "$width $height" ] || { echo "crop is $size, want $width $height"; exit 1; }
colours=$(identify -format '%k' "$out")
echo "colours in the window: $colours"
[ "$colours" -ge 6 ] || { echo "the window looks blank"; exit 1; }
# The bar's filled part (40 of 100) is in the lower half; the animation in the upper part: both
# halves must carry more than one colour.
for half in "${width}x$((height / 2))+0+0" "${width}x$((height / 2))+0+$((height / 2))"; do
  k=$(convert "$out" -crop "$half" +repage -format '%k' info:)
  [ "$k" -ge 3 ] || { echo "half $half is blank ($k colours)"; exit 1; }
done
echo "saved $out"
