#!/usr/bin/env bash
# The whole test suite: sets up the machine (installs what is missing), builds the native,
# sanitizer, Windows (32- and 64-bit) and fuzz trees, and runs their tests (the Windows ones under
# Wine, a short run of each fuzz target), then prints each ctest summary and one closing line for
# the run: "N passed, N failed, N skipped".
#
# On a host that cannot execute 32-bit programs the 32-bit tree is still built, but its tests do
# not run: they are counted as skipped, with the reason, and everything else must pass.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
start=$(date +%s)
# shellcheck source=lib/host-i386.sh
. scripts/lib/host-i386.sh

bash scripts/setup-machine.sh || exit 1
bash scripts/build.sh native asan win32 win64 || { echo "build failed"; exit 1; }
# Fuzz smoke run: the libFuzzer targets (clang build in build/fuzz, the tree scripts/fuzz.sh uses)
# run about 20 s each as the tests labelled "fuzz" there.
if [ -f build/fuzz/CMakeCache.txt ]; then
  cmake -S "$root" -B build/fuzz -DSFXSTUB_FUZZ=ON >/dev/null
else
  CC=clang CXX=clang++ cmake -S "$root" -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSFXSTUB_FUZZ=ON >/dev/null
fi
cmake --build build/fuzz --target sfx_fuzzers -j"$(nproc)" >/dev/null || { echo "fuzz build failed"; exit 1; }

trees=(native asan)
skipped=0
if host_runs_i386; then
  trees+=(win32)
else
  n=$(ctest --test-dir build/win32 -N | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
  skipped=$((skipped + ${n:-0}))
  skip_note="the 32-bit stub's Windows tests did not run on this host ($n tests, counted as skipped): $I386_REASON"
  echo; echo "=== ctest: win32 === SKIPPED: $skip_note"
fi
trees+=(win64 fuzz)

passed=0; failed=0; status=0
for t in "${trees[@]}"; do
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
    # ctest counts a test that skipped itself (exit 77) among the passed ones.
    skip=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
    passed=$((passed + total - bad - skip)); failed=$((failed + bad)); skipped=$((skipped + skip))
  else
    status=1
  fi
done
echo
[ -z "${skip_note:-}" ] || echo "note: $skip_note"
echo "suite time: $(( $(date +%s) - start )) s"
echo "${passed} passed, ${failed} failed, ${skipped} skipped"
exit $status
