#!/usr/bin/env bash
# Soak test of a package near the format's 4 GiB limit (run by hand, not in CI: it needs about
# 10 GiB of disk and several GiB of memory for sfxpack).
#
# Packs a package of about 3 GiB: the stand-in setup program sfxprobe as the main program, one
# listed file of about 2.5 GiB and four of 128 MiB, all random. Runs it with the 32-bit stub
# under Wine (/verysilent). The setup program copies every file of its working folder to a save
# folder (SFXPROBE_SAVE) before the stub cleans up; the script then checks that the large file
# came out byte-exact (the MD5 of its data equals that of the input, and its own signature
# trailer verifies) and reports the time and the peak memory of the run.
#
# usage: scripts/soak.sh
# environment: SFXSTUB_SOAK_DIR (scratch, default /tmp/sfxstub-soak; removed at the end unless
#   SFXSOAK_KEEP=1), SFXSOAK_BIG_MIB (default 2560), SFXSOAK_NATIVE / SFXSOAK_WIN32 (build
#   folders, default build/native and build/win32, built already).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "${SFXSOAK_NATIVE:-$root/build/native}")
win32=$(realpath "${SFXSOAK_WIN32:-$root/build/win32}")
soak=${SFXSTUB_SOAK_DIR:-/tmp/sfxstub-soak}
big_mib=${SFXSOAK_BIG_MIB:-2560}

SFXPACK=$native/tools/sfxpack/sfxpack
STUB=$win32/sfxstub/main/sfxstub.exe
SFXRUN=$win32/tests/wine/sfxrun.exe
PROBE=$win32/tests/wine/sfxprobe.exe
KEY=$root/keys/test-signer/signer-private.pem
for f in "$SFXPACK" "$STUB" "$SFXRUN" "$PROBE" /usr/bin/time; do
  [ -x "$f" ] || { echo "soak: missing $f (build first)" >&2; exit 2; }
done
case "$soak" in "$root"|"$root"/*) echo "soak: SFXSTUB_SOAK_DIR must lie outside the repository" >&2; exit 2 ;; esac
need_kib=$(( (big_mib + 512) * 1024 * 7 / 2 ))
mkdir -p "$soak"
avail_kib=$(df -Pk "$soak" | awk 'NR==2 {print $4}')
if [ "$avail_kib" -lt "$need_kib" ]; then
  echo "soak: needs about $((need_kib / 1024 / 1024)) GiB free in $soak, has $((avail_kib / 1024 / 1024)) GiB" >&2
  exit 2
fi
[ -n "${SFXSOAK_KEEP:-}" ] || trap 'rm -rf "${soak:?}"' EXIT
rm -rf "${soak:?}"/*
mkdir -p "$soak/in" "$soak/temp" "$soak/saved"

export WINEPREFIX=${WINEPREFIX:-$win32/wineprefix} WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
bash "$root/tests/wine/make-prefix.sh"
# shellcheck source=../tests/wine/lib.sh
. "$root/tests/wine/lib.sh"
step() { printf '[soak %s] %s\n' "$(date +%T)" "$*"; }

step "writing ${big_mib} MiB of random input and four files of 128 MiB"
head -c $((big_mib * 1024 * 1024)) /dev/urandom >"$soak/in/big.dat"
big_md5=$(md5sum <"$soak/in/big.dat" | cut -d' ' -f1)
big_size=$(stat -c %s "$soak/in/big.dat")
args=()
for i in 1 2 3 4; do
  head -c $((128 * 1024 * 1024)) /dev/urandom >"$soak/in/part$i.bin"
  args+=(--raw "part$i.bin=$soak/in/part$i.bin")
done

step "packing"
"$SFXPACK" pack --stub "$STUB" --key "$KEY" --main "$PROBE" "${args[@]}" \
  --raw "big.dat=$soak/in/big.dat" --cmdline '%CMDLINE%' --force -o "$soak/package.exe" >/dev/null
rm -rf "$soak/in"
pkg_size=$(stat -c %s "$soak/package.exe")
step "package: $pkg_size bytes ($((pkg_size / 1024 / 1024)) MiB)"

step "running it with the 32-bit stub under Wine"
pkg=$(winpath "$soak/package.exe")
t0=$(date +%s%N)
/usr/bin/time -f %M -o "$soak/rss.txt" wine "$SFXRUN" \
  --set "TEMP=$(winpath "$soak/temp")" --set "TMP=$(winpath "$soak/temp")" \
  --set "SFXPROBE_REPORT=$(winpath "$soak/report.txt")" --set "SFXPROBE_SAVE=$(winpath "$soak/saved")" \
  "$pkg" "\"$pkg\" /verysilent" | tr -d '\r' >"$soak/run.txt"
t1=$(date +%s%N)
cat "$soak/run.txt"
exit_line=$(sed -n 's/^exit=//p' "$soak/run.txt")

status=0
saved=$soak/saved/big.dat
if [ ! -f "$saved" ]; then
  echo "soak: FAILED: big.dat did not reach the setup program's folder"; status=1
else
  saved_size=$(stat -c %s "$saved")
  saved_md5=$(head -c "$big_size" "$saved" | md5sum | cut -d' ' -f1)
  # The stored object is the input followed by its own 48-byte signature trailer.
  if [ "$saved_size" != $((big_size + 48)) ]; then
    echo "soak: FAILED: big.dat has $saved_size bytes, expected $((big_size + 48))"; status=1
  elif [ "$saved_md5" != "$big_md5" ]; then
    echo "soak: FAILED: the data of big.dat differs (md5 $saved_md5, expected $big_md5)"; status=1
  elif ! "$SFXPACK" verify --key "$KEY" "$saved" >/dev/null; then
    echo "soak: FAILED: the trailer of big.dat does not verify"; status=1
  fi
fi
if compgen -G "$soak/temp/_tr_sfx.tm~*" >/dev/null; then
  echo "soak: FAILED: the working folder was left behind"; status=1
fi
echo "package $((pkg_size / 1024 / 1024)) MiB, big.dat $((big_size / 1024 / 1024)) MiB (md5 $big_md5)"
echo "stub exit: $exit_line; time $(( (t1 - t0) / 1000000 )) ms; peak RSS $(tail -n 1 "$soak/rss.txt") KiB"
[ "$status" = 0 ] && [ "$exit_line" = "0x00000000" ] && echo "soak: PASSED" && exit 0
[ "$status" = 0 ] && echo "soak: FAILED: unexpected exit $exit_line"
exit 1
