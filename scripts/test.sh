#!/usr/bin/env bash
# The whole test suite: sets up the machine (installs what is missing), builds the native,
# sanitizer and Windows trees, and runs their tests (the Windows ones under Wine), then prints
# each ctest summary and one closing line for the whole run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)

bash scripts/setup-machine.sh || exit 1
bash scripts/build.sh native asan win32 || { echo "build failed"; exit 1; }

passed=0; failed=0; status=0
for t in native asan win32; do
  echo
  echo "=== ctest: $t ==="
  log="build/$t/ctest-summary.log"
  ctest --test-dir "build/$t" --output-on-failure -j"$(nproc)" 2>&1 | tee "$log"
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
