#!/usr/bin/env bash
# Benchmark of the extraction against what the machine can do at best (run by hand, never a test).
#
# For packages of 16 MiB and 256 MiB (a main program of a few MiB, listed files of mixed sizes,
# one of them large, all random so that compression does not shrink them) it measures, taking
# turns, SFXBENCH_RUNS times each (default 5):
#   limit   md5sum of the package, then cat of every stored object into a scratch folder: one
#           read for the signature check and one copy for the extraction, nothing more;
#   native  sfxpack extract (the stub's own archive code) into a scratch folder;
#   wine32  the package with the 32-bit stub (sfxstub.exe) run under Wine with /verysilent; its
#           setup program exits at once;
#   wine64  the same package with the 64-bit stub (sfxstub64.exe) under 64-bit Wine;
#   floor32, floor64  an empty Windows program of that width under the same Wine: Wine's start-up
#           cost, taken off the wine figure before it is compared with the limit;
#   base32, base64  with SFXBENCH_BASE32 / SFXBENCH_BASE64 naming another stub of that width (an
#           older build, say): the same package with that stub, in the same turns, and the ratio
#           of the two stubs' times.
# A host that cannot execute 32-bit programs measures the 64-bit stub only, and says so.
# It prints the size of each stub, medians with min..max, the ratios to the limit, and peak
# memory (max RSS) of each. Goals: native <= 1.25 x limit; wine - floor <= 1.5 x limit; a stub
# no slower than its base (ratio <= 1 within the runs' spread).
#
# usage: scripts/bench.sh [SIZE_MIB ...]          (default: 16 256)
# environment: SFXSTUB_BENCH_DIR (scratch, default /tmp/sfxstub-bench), SFXBENCH_RUNS,
#   SFXBENCH_NATIVE / SFXBENCH_WIN32 / SFXBENCH_WIN64 (build folders, default build/native,
#   build/win32 and build/win64; they must be built already), SFXBENCH_BASE32 / SFXBENCH_BASE64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/host-i386.sh
. "$root/scripts/lib/host-i386.sh"
# shellcheck source=../tests/wine/lib.sh
. "$root/tests/wine/lib.sh"
native=$(realpath "${SFXBENCH_NATIVE:-$root/build/native}")
runs=${SFXBENCH_RUNS:-5}
bench=${SFXSTUB_BENCH_DIR:-/tmp/sfxstub-bench}
sizes=("$@")
[ "${#sizes[@]}" -gt 0 ] || sizes=(16 256)
SFXPACK=$native/tools/sfxpack/sfxpack
KEY=$root/keys/test-signer/signer-private.pem

# The stubs to measure: 32 and 64 (the width), each with its build folder.
declare -A tree stubexe
tree[32]=$(realpath -m "${SFXBENCH_WIN32:-$root/build/win32}"); stubexe[32]=sfxstub.exe
tree[64]=$(realpath -m "${SFXBENCH_WIN64:-$root/build/win64}"); stubexe[64]=sfxstub64.exe
widths=()
if host_runs_i386; then widths+=(32); else echo "bench: the 32-bit stub is not measured: $I386_REASON"; fi
widths+=(64)
stub() { echo "${tree[$1]}/sfxstub/main/${stubexe[$1]}"; }
declare -A base=([32]=${SFXBENCH_BASE32:-} [64]=${SFXBENCH_BASE64:-})
empty() { echo "${tree[$1]}/tests/wine/sfxprobe.exe"; }  # without SFXPROBE_REPORT it only exits
for f in "$SFXPACK" /usr/bin/time; do
  [ -x "$f" ] || { echo "bench: missing $f (build first; /usr/bin/time: scripts/setup-machine.sh)" >&2; exit 2; }
done
for w in "${widths[@]}"; do
  for f in "$(stub "$w")" "$(empty "$w")" ${base[$w]:+"${base[$w]}"}; do
    [ -f "$f" ] || { echo "bench: missing $f (build first)" >&2; exit 2; }
  done
done
case "$bench" in "$root"|"$root"/*) echo "bench: SFXSTUB_BENCH_DIR must lie outside the repository" >&2; exit 2 ;; esac

# wine_cmd WIDTH: sets WINECMD to the command that runs a Windows program under the Wine of that
# width, in the test prefix of that build (a plain command, so that /usr/bin/time can run it).
wine_cmd() {
  if [ "$1" = 64 ]; then
    WINECMD=(env WINEPREFIX="${tree[64]}/wineprefix" WINEARCH=win64 WINESERVER=/usr/lib/wine/wineserver64
             WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
  else
    WINECMD=(env WINEPREFIX="${tree[32]}/wineprefix" WINEARCH=win32 wine)
  fi
}
wine_as() { wine_cmd "$1"; shift; "${WINECMD[@]}" "$@"; }
server_as() {  # WIDTH ARGS...: the wine server of that width's prefix
  local w=$1; shift
  if [ "$w" = 64 ]; then WINEPREFIX=${tree[64]}/wineprefix /usr/lib/wine/wineserver64 "$@"
  else WINEPREFIX=${tree[32]}/wineprefix wineserver "$@"; fi
}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
for w in "${widths[@]}"; do
  if [ "$w" = 64 ]; then
    WINEPREFIX=${tree[64]}/wineprefix WINEARCH=win64 WINE=/usr/lib/wine/wine64 \
      WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64 bash "$root/tests/wine/make-prefix.sh"
  else
    WINEPREFIX=${tree[32]}/wineprefix WINEARCH=win32 bash "$root/tests/wine/make-prefix.sh"
  fi
  # One wine server per prefix for the whole run, so that no measurement pays for starting it.
  server_as "$w" -p 2>/dev/null || true  # already running is fine
done
trap 'for w in "${widths[@]}"; do server_as "$w" -k 2>/dev/null || true; done' EXIT

mkdir -p "$bench"

# make_package SIZE_MIB: inputs and the package under $bench/p$SIZE.
make_package() {
  local mib=$1 dir=$bench/p$1
  mkdir -p "$dir/in"
  # The main program: the empty program padded with random bytes to about 3 MiB (a PE image
  # ignores bytes after its sections).
  { cat "$(empty "${widths[0]}")"; head -c $((3 * 1024 * 1024)) /dev/urandom; } >"$dir/in/main.exe"
  local args=() used=0 i n
  for i in $(seq 1 24); do  # small and medium files, as package files and raw files
    n=$(( (i * 37 % 64 + 1) * 1024 * (i % 4 == 0 ? 8 : 1) ))
    head -c "$n" /dev/urandom >"$dir/in/f$i.bin"
    used=$((used + n))
    if [ $((i % 2)) = 0 ]; then args+=(--file "f$i.bin=$dir/in/f$i.bin");
    else args+=(--raw "f$i.txt=$dir/in/f$i.bin"); fi
  done
  local big=$(( mib * 1024 * 1024 - used - 4 * 1024 * 1024 ))
  # (head -c with a negative count would copy /dev/urandom without end)
  [ "$big" -gt 0 ] || { echo "bench: $mib MiB is too small a package (at least 8)" >&2; exit 2; }
  head -c "$big" /dev/urandom >"$dir/in/big.dat"
  args+=(--raw "big.dat=$dir/in/big.dat")
  # The same main program and files behind each stub; a 64-bit main program would do as well,
  # the stub only copies it.
  local w
  for w in "${widths[@]}"; do
    "$SFXPACK" pack --stub "$(stub "$w")" --key "$KEY" --main "$dir/in/main.exe" "${args[@]}" \
      --cmdline '%CMDLINE%' --force -o "$dir/package$w.exe" >/dev/null
    [ -z "${base[$w]}" ] ||
      "$SFXPACK" pack --stub "${base[$w]}" --key "$KEY" --main "$dir/in/main.exe" "${args[@]}" \
        --cmdline '%CMDLINE%' --force -o "$dir/base$w.exe" >/dev/null
  done
  # The stored objects as the extraction writes them: the limit copies exactly these.
  "$SFXPACK" extract "$dir/package${widths[0]}.exe" --key "$KEY" --force --to "$dir/stored" >/dev/null
  rm -rf "$dir/in"
}

# measure NAME CMD...: one timed run; appends "seconds kib" to $bench/NAME.txt.
measure() {
  local name=$1; shift
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f %M -o "$bench/rss.tmp" "$@" >/dev/null 2>&1 || { echo "bench: $name failed" >&2; exit 1; }
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000 )) $(tail -n 1 "$bench/rss.tmp")" >>"$bench/$name.txt"
}

limit_run() {  # package stored-folder out-folder
  md5sum "$1" >/dev/null
  mkdir -p "$3"
  for f in "$2"/*; do cat "$f" >"$3/${f##*/}"; done
}
export -f limit_run

# stats NAME: "median min max rss" (seconds; KiB, the median of the max RSS).
median() { sort -n | awk '{v[NR]=$1} END {printf "%.0f\n", (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
stats() {
  local f=$bench/$1.txt
  printf '%s %s\n' "$(cut -d' ' -f1 "$f" | median)" "$(cut -d' ' -f2 "$f" | median)" |
    awk -v min="$(cut -d' ' -f1 "$f" | sort -n | head -n 1)" -v max="$(cut -d' ' -f1 "$f" | sort -n | tail -n 1)" \
      '{printf "%.3f %.3f %.3f %d\n", $1/1e6, min/1e6, max/1e6, $2}'
}

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1); $(/usr/lib/wine/wine64 --version)"
# Both stubs' sizes, measured or not, and those of the bases.
size_of() { local n; n=$(stat -c %s "$1"); echo "$n bytes ($(( (n + 1023) / 1024 )) KiB)"; }
for w in 32 64; do
  if [ -f "$(stub "$w")" ]; then echo "stub$w: $(stub "$w")  $(size_of "$(stub "$w")")"; fi
  if [ -n "${base[$w]}" ]; then echo "base$w: ${base[$w]}  $(size_of "${base[$w]}")"; fi
done
# SFXBENCH_REPORT_ONLY=1 prints the table of the measurements already in the scratch folder.
if [ -z "${SFXBENCH_REPORT_ONLY:-}" ]; then
rm -rf "${bench:?}"/*
for mib in "${sizes[@]}"; do
  echo "making the ${mib} MiB package ..."
  make_package "$mib"
done

for mib in "${sizes[@]}"; do
  dir=$bench/p$mib
  pkg=$dir/package${widths[0]}.exe
  # One untimed round, so that every contender starts with the package in the page cache.
  limit_run "$pkg" "$dir/stored" "$dir/out"; rm -rf "$dir/out"
  for w in "${widths[@]}"; do
    for p in "$dir/package$w.exe" ${base[$w]:+"$dir/base$w.exe"}; do
      wine_as "$w" "$(winpath "$p")" /verysilent >/dev/null 2>&1 || true
    done
  done
  for r in $(seq 1 "$runs"); do
    measure "limit$mib" bash -c 'limit_run "$@"' _ "$pkg" "$dir/stored" "$dir/out"; rm -rf "$dir/out"
    measure "native$mib" "$SFXPACK" extract "$pkg" --key "$KEY" --to "$dir/out"; rm -rf "$dir/out"
    for w in "${widths[@]}"; do
      wine_cmd "$w"
      # The stub and its base take turns at going first, right after the writes above (whose
      # pages the system may still be writing out), and at going second.
      order=("wine$w:$dir/package$w.exe")
      if [ -n "${base[$w]}" ]; then
        if [ $((r % 2)) = 0 ]; then order=("base$w:$dir/base$w.exe" "${order[@]}")
        else order+=("base$w:$dir/base$w.exe"); fi
      fi
      for entry in "${order[@]}"; do
        p=${entry#*:}
        measure "${entry%%:*}-$mib" "${WINECMD[@]}" "$(winpath "$p")" /verysilent
      done
      measure "floor$w-$mib" "${WINECMD[@]}" "$(empty "$w")"
    done
  done
done

fi  # SFXBENCH_REPORT_ONLY

echo
printf '%-8s %-9s %22s %8s %10s\n' package what "median s (min..max)" ratio "peak KiB"
for mib in "${sizes[@]}"; do
  read -r lm lmin lmax lrss < <(stats "limit$mib")
  read -r nm nmin nmax nrss < <(stats "native$mib")
  row() { printf '%-8s %-9s %8s (%s..%s) %8s %10s\n' "$mib MiB" "$1" "$2" "$3" "$4" "$5" "$6"; }
  row limit "$lm" "$lmin" "$lmax" "1.00" "$lrss"
  row native "$nm" "$nmin" "$nmax" "$(awk -v a="$nm" -v b="$lm" 'BEGIN{printf "%.2f", a/b}')" "$nrss"
  for w in "${widths[@]}"; do
    read -r wm wmin wmax wrss < <(stats "wine$w-$mib")
    read -r fm fmin fmax frss < <(stats "floor$w-$mib")
    row "wine$w" "$wm" "$wmin" "$wmax" "-" "$wrss"
    row "floor$w" "$fm" "$fmin" "$fmax" "-" "$frss"
    row "wine$w-fl" "$(awk -v a="$wm" -v b="$fm" 'BEGIN{printf "%.3f", a-b}')" "-" "-" \
        "$(awk -v a="$wm" -v b="$fm" -v c="$lm" 'BEGIN{printf "%.2f", (a-b)/c}')" "-"
    if [ -n "${base[$w]}" ]; then
      read -r bm bmin bmax brss < <(stats "base$w-$mib")
      row "base$w" "$bm" "$bmin" "$bmax" "-" "$brss"
      # The two stubs' own work, Wine's start-up taken off both.
      row "wine/base" "-" "-" "-" "$(awk -v a="$wm" -v b="$bm" -v f="$fm" 'BEGIN{printf "%.2f", (a-f)/(b-f)}')" "-"
    fi
  done
done
echo "goals: native <= 1.25, wine less floor <= 1.50 (ratios to the limit); wine/base <= 1"
