#!/usr/bin/env bash
# The stub's runtime pieces at their limits (testdata/runtime_probe.cc), run under Wine through
# sfxrun, which reads and dismisses the error report and prints the 32-bit exit code.
#
# usage: stub_runtime_test.sh SFXRUN PROBE   (environment: the Wine variables of the test prefix)
set -euo pipefail
sfxrun=${1:?sfxrun} probe=${2:?probe}
failures=0

# case  expected exit code  expected report
while read -r what code report; do
  out=$("${WINE:-wine}" "$sfxrun" --timeout 60 "$probe" "runtime_probe $what" 2>/dev/null | tr -d '\r')
  got_code=$(sed -n 's/^exit=//p' <<<"$out")
  got_report=$(sed -n 's/^report=//p' <<<"$out")
  if [ "$got_code" != "$code" ] || [ "$got_report" != "$report" ]; then
    echo "FAIL $what: exit $got_code, report '$got_report'; expected $code, '$report'"
    failures=$((failures + 1))
  else
    echo "ok   $what: exit $got_code, report '$got_report'"
  fi
done <<'CASES'
nothrow 0x00000000 none
new     0x00000008 An error 8 (00000008) has occured.\n
string  0x00000008 An error 8 (00000008) has occured.\n
misuse  0x0000054F An error 1359 (0000054F) has occured.\n
CASES
[ "$failures" = 0 ]
