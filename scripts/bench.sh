#!/usr/bin/env bash
# Benchmark of the extraction against what the machine can do at best (run by hand, never a test).
#
# For packages of 16 MiB and 256 MiB (a main program of a few MiB, listed files of mixed sizes,
# one of them large, all random so that compression does not shrink them) it measures, taking
# turns, SFXBENCH_RUNS times each (default 5):
#   limit   md5sum of the package, then cat of every stored object into a scratch folder: one
#           read for the signature check and one copy for the extraction, nothing more;
#   native  sfxpack extract (the stub's own archive code) into a scratch folder;
#   wine    the package (sfxstub.exe inside) run under Wine with /verysilent; its setup program
#           exits at once;
#   floor   an empty 32-bit Windows program under Wine: Wine's start-up cost, taken off the
#           wine figure before it is compared with the limit.
# It prints medians with min..max, the ratios to the limit, and peak memory (max RSS) of each.
# Goals: native <= 1.25 x limit; wine - floor <= 1.5 x limit.
#
# usage: scripts/bench.sh [SIZE_MIB ...]          (default: 16 256)
# environment: SFXSTUB_BENCH_DIR (scratch, default /tmp/sfxstub-bench), SFXBENCH_RUNS,
#   SFXBENCH_NATIVE / SFXBENCH_WIN32 (build folders, default build/native and build/win32; they
#   must be built already).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "${SFXBENCH_NATIVE:-$root/build/native}")
win32=$(realpath "${SFXBENCH_WIN32:-$root/build/win32}")
runs=${SFXBENCH_RUNS:-5}
bench=${SFXSTUB_BENCH_DIR:-/tmp/sfxstub-bench}
sizes=("$@")
[ "${#sizes[@]}" -gt 0 ] || sizes=(16 256)

SFXPACK=$native/tools/sfxpack/sfxpack
STUB=$win32/sfxstub/main/sfxstub.exe
EMPTY=$win32/tests/wine/sfxprobe.exe   # without SFXPROBE_REPORT it only exits
KEY=$root/keys/test-signer/signer-private.pem
for f in "$SFXPACK" "$STUB" "$EMPTY" /usr/bin/time; do
  [ -x "$f" ] || { echo "bench: missing $f (build first; /usr/bin/time: scripts/setup-machine.sh)" >&2; exit 2; }
done
case "$bench" in "$root"|"$root"/*) echo "bench: SFXSTUB_BENCH_DIR must lie outside the repository" >&2; exit 2 ;; esac

export WINEPREFIX=${WINEPREFIX:-$win32/wineprefix} WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
bash "$root/tests/wine/make-prefix.sh"
# One wine server for the whole run, so that no measurement pays for starting it.
wineserver -p 2>/dev/null || true  # already running is fine
trap 'wineserver -k 2>/dev/null || true' EXIT

mkdir -p "$bench"

# make_package SIZE_MIB: inputs and the package under $bench/p$SIZE.
make_package() {
  local mib=$1 dir=$bench/p$1
  mkdir -p "$dir/in"
  # The main program: the empty program padded with random bytes to about 3 MiB (a PE image
  # ignores bytes after its sections).
  { cat "$EMPTY"; head -c $((3 * 1024 * 1024)) /dev/urandom; } >"$dir/in/main.exe"
  local args=() used=0 i n
  for i in $(seq 1 24); do  # small and medium files, as package files and raw files
    n=$(( (i * 37 % 64 + 1) * 1024 * (i % 4 == 0 ? 8 : 1) ))
    head -c "$n" /dev/urandom >"$dir/in/f$i.bin"
    used=$((used + n))
    if [ $((i % 2)) = 0 ]; then args+=(--file "f$i.bin=$dir/in/f$i.bin");
    else args+=(--raw "f$i.txt=$dir/in/f$i.bin"); fi
  done
  local big=$(( mib * 1024 * 1024 - used - 4 * 1024 * 1024 ))
  head -c "$big" /dev/urandom >"$dir/in/big.dat"
  args+=(--raw "big.dat=$dir/in/big.dat")
  "$SFXPACK" pack --stub "$STUB" --key "$KEY" --main "$dir/in/main.exe" "${args[@]}" \
    --cmdline '%CMDLINE%' -o "$dir/package.exe" >/dev/null
  # The stored objects as the extraction writes them: the limit copies exactly these.
  "$SFXPACK" extract "$dir/package.exe" --key "$KEY" --to "$dir/stored" >/dev/null
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

stub_size=$(stat -c %s "$STUB")
echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1); $(wine --version)"
echo "stub: $STUB  $stub_size bytes ($(( (stub_size + 1023) / 1024 )) KiB)"
# SFXBENCH_REPORT_ONLY=1 prints the table of the measurements already in the scratch folder.
if [ -z "${SFXBENCH_REPORT_ONLY:-}" ]; then
rm -rf "${bench:?}"/*
for mib in "${sizes[@]}"; do
  echo "making the ${mib} MiB package ..."
  make_package "$mib"
done

for mib in "${sizes[@]}"; do
  dir=$bench/p$mib
  pkg=$dir/package.exe
  winpkg="Z:${pkg//\//\\}"
  # One untimed round, so that every contender starts with the package in the page cache.
  limit_run "$pkg" "$dir/stored" "$dir/out"; rm -rf "$dir/out"
  wine "$winpkg" /verysilent >/dev/null 2>&1 || true
  for r in $(seq 1 "$runs"); do
    measure "limit$mib" bash -c 'limit_run "$@"' _ "$pkg" "$dir/stored" "$dir/out"; rm -rf "$dir/out"
    measure "native$mib" "$SFXPACK" extract "$pkg" --key "$KEY" --to "$dir/out"; rm -rf "$dir/out"
    measure "wine$mib" wine "$winpkg" /verysilent
    measure "floor$mib" wine "$EMPTY"
  done
done

fi  # SFXBENCH_REPORT_ONLY

echo
printf '%-8s %-7s %22s %8s %10s\n' package what "median s (min..max)" ratio "peak KiB"
for mib in "${sizes[@]}"; do
  read -r lm lmin lmax lrss < <(stats "limit$mib")
  read -r nm nmin nmax nrss < <(stats "native$mib")
  read -r wm wmin wmax wrss < <(stats "wine$mib")
  read -r fm fmin fmax frss < <(stats "floor$mib")
  row() { printf '%-8s %-7s %8s (%s..%s) %8s %10s\n' "$mib MiB" "$1" "$2" "$3" "$4" "$5" "$6"; }
  row limit "$lm" "$lmin" "$lmax" "1.00" "$lrss"
  row native "$nm" "$nmin" "$nmax" "$(awk -v a="$nm" -v b="$lm" 'BEGIN{printf "%.2f", a/b}')" "$nrss"
  row wine "$wm" "$wmin" "$wmax" "-" "$wrss"
  row floor "$fm" "$fmin" "$fmax" "-" "$frss"
  row wine-fl "$(awk -v a="$wm" -v b="$fm" 'BEGIN{printf "%.3f", a-b}')" "-" "-" \
      "$(awk -v a="$wm" -v b="$fm" -v c="$lm" 'BEGIN{printf "%.2f", (a-b)/c}')" "-"
done
echo "goals: native <= 1.25, wine less floor <= 1.50 (ratios to the limit)"
