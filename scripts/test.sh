#!/usr/bin/env bash
# The whole test suite: sets up the machine (installs what is missing), builds the native,
# sanitizer, Windows and fuzz trees, and runs their tests (the Windows ones under Wine, a short
# run of each fuzz target), then prints each ctest summary and one closing line for the run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)

bash scripts/setup-machine.sh || exit 1
bash scripts/build.sh native asan win32 || { echo "build failed"; exit 1; }
# Fuzz smoke run: the libFuzzer targets (clang build in build/fuzz, the tree scripts/fuzz.sh uses)
# run about 30 s each as the tests labelled "fuzz" there.
[ -f build/fuzz/CMakeCache.txt ] ||
  CC=clang CXX=clang++ cmake -S "$root" -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz --target sfx_fuzzers -j"$(nproc)" >/dev/null || { echo "fuzz build failed"; exit 1; }

passed=0; failed=0; status=0
for t in native asan win32 fuzz; do
  echo
  echo "=== ctest: $t ==="
  log="build/$t/ctest-summary.log"
  only=(); [ "$t" = fuzz ] && only=(-L fuzz)
  ctest --test-dir "build/$t" "${only[@]}" --output-on-failure -j"$(nproc)" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  else
    status=1
  fi
done
echo
echo "suite time: $(( $(date +%s) - start )) s"
echo "${passed} passed, ${failed} failed"
exit $status
