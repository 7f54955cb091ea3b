#!/usr/bin/env bash
# Checks the stub's image the way a third-party PE analyser sees it (Debian's pev: pescan,
# readpe) and with osslsigncode's checksum: no finding that antivirus heuristics weigh, only the
# usual sections with the resources last, a time stamp that is set, both run-from-swap flags, a
# correct checksum, and a size of at most LIMIT bytes.
#
# usage: stub_image_test.sh STUB LIMIT
# Exits 77 (skipped) when pescan, readpe or osslsigncode is missing (scripts/setup-machine.sh
# installs them).
set -euo pipefail
stub=${1:?stub} limit=${2:?limit}

for tool in pescan readpe osslsigncode; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed (Debian: pev, osslsigncode)"; exit 77; }
done
[ -f "$stub" ] || { echo "no stub at $stub: build the tree first" >&2; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

size=$(stat -c %s "$stub")
[ "$size" -le "$limit" ] || fail "$size bytes, more than $limit"

# pescan -v: every line must be one of these. A section of one 512-byte file block is a "small
# length" (the 64-bit stub's base relocations fill less than one); that is a size, not a finding.
# The 64-bit image base 0x140000000 is the platform's standard one, which pescan calls suspicious.
report=$(pescan -v "$stub")
echo "$report"
sections_allowed='\.(text|rdata|data|pdata|xdata|idata|reloc|rsrc)'
while IFS= read -r line; do
  case "$line" in
    "file entropy:"*"(normal)" | "fpu anti-disassembly:"*" no" | "imagebase:"*"normal - "* | \
    "entrypoint:"*"normal - "* | "DOS stub:"*" normal" | "TLS directory:"*" not found" | \
    "timestamp:"*"normal - "* | "sections" | *"    section") ;;
    "imagebase:"*"suspicious - 0x140000000")
      readpe -h optional "$stub" | grep -q 'Magic number:.*PE32+' || fail "pescan: $line" ;;
    "section count:"*)
      [[ "$line" =~ ^section\ count:\ +[0-9]+$ ]] || fail "pescan: $line" ;;
    *)
      [[ "$line" =~ ^\ +${sections_allowed}:\ +(normal|small\ length)$ ]] || fail "pescan: $line" ;;
  esac
done <<<"$report"

# readpe reads every header and directory without a complaint.
errors=$(readpe "$stub" 2>&1 >/dev/null) || fail "readpe exited with $?"
[ -z "$errors" ] || fail "readpe: $errors"

# The resources are the last section, at the end of the file: a tool can replace them in a
# copy of the image without moving anything else.
names=$(readpe -S "$stub" | sed -n 's/^ *Name: *//p')
echo "sections: $(tr '\n' ' ' <<<"$names")"
[ "$(echo "$names" | tail -n 1)" = .rsrc ] || fail "the last section is not .rsrc"
last_end=$(readpe -S "$stub" | awk '
  /Size Of Raw Data:/ { raw = strtonum_hex($5) }
  /Pointer To Raw Data:/ { end = strtonum_hex($5) + raw }
  function strtonum_hex(h,  i, v) { v = 0; h = tolower(h); sub(/^0x/, "", h)
    for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1
    return v }
  END { print end }')
[ "$last_end" = "$size" ] || fail "the last section ends at $last_end, the file at $size"

# A time stamp that is set (its value is reproducible: stub_reproducible builds it again).
stamp=$(readpe -h coff "$stub" | sed -n 's/^ *Date\/time stamp: *\([0-9]*\).*/\1/p')
echo "time stamp: $stamp"
if [ -z "$stamp" ] || [ "$stamp" = 0 ]; then fail "no time stamp"; fi

# Both run-from-swap flags (0x0400 removable, 0x0800 network): started from a USB stick or a
# share, Windows copies the image into the paging file first, and never reads its code from
# there again.
characteristics=$(readpe -h coff "$stub" | sed -n 's/^ *Characteristics: *\(0x[0-9a-fA-F]*\).*/\1/p')
echo "characteristics: $characteristics"
if [ -z "$characteristics" ] || (( (characteristics & 0xC00) != 0xC00 )); then
  fail "the run-from-swap flags are not set (Characteristics ${characteristics:-unknown})"
fi

# osslsigncode computes the checksum itself and warns when the header's differs.
check=$(osslsigncode verify -in "$stub" 2>&1 || true)
sum=$(sed -n 's/^\(Current \)\{0,1\}PE checksum *: *//p' <<<"$check" | head -n 1)
echo "checksum: $sum"
if [ -z "$sum" ] || [ "$sum" = 00000000 ]; then fail "no checksum"; fi
if grep -q 'invalid PE checksum' <<<"$check"; then fail "$(grep -i checksum <<<"$check" | tr '\n' ' ')"; fi

[ "$failures" = 0 ] || exit 1
echo "$size bytes (limit $limit), nothing the analysers flag"
