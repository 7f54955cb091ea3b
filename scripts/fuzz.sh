#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz and runs each for SECONDS (default 180),
# growing a corpus per target under build/fuzz/tests/fuzz/corpus from the build-time seeds.
# A crashing input is kept as build/fuzz/tests/fuzz/artifacts/<target>-crash-*; the script then
# exits 1. Prints each target's executions and corpus size.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: trailer catalog package_file command_line pe_image)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-180}
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(trailer catalog package_file command_line pe_image)
build="$root/build/fuzz"

# Every library is built with libFuzzer's coverage instrumentation there (SFXSTUB_FUZZ).
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DSFXSTUB_FUZZ=ON >/dev/null || exit 1
else
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSFXSTUB_FUZZ=ON >/dev/null || exit 1
fi
cmake --build "$build" --target sfx_fuzzers -j"$(nproc)" >/dev/null || { echo "fuzz build failed"; exit 1; }

dir="$build/tests/fuzz"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t" "$dir/artifacts"
  log="$dir/$t.log"
  "$dir/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict="$root/tests/fuzz/$t.dict" -artifact_prefix="$dir/artifacts/$t-" \
    "$dir/corpus/$t" "$dir/seeds/$t" >"$log" 2>&1
  rc=$?
  execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  units=$(find "$dir/corpus/$t" -type f | wc -l)
  if [ $rc = 0 ]; then
    echo "PASS $t: ${execs:-?} executions in ${seconds} s, corpus $units inputs"
  else
    echo "FAIL $t (exit $rc): see $log"; grep -m5 -E 'ERROR|SUMMARY|runtime error' "$log"
    status=1
  fi
done
exit $status
