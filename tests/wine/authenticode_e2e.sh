#!/usr/bin/env bash
# End-to-end test of an Authenticode-signed package under Wine. One package is run three ways:
#   plain           as sfxpack packs it;
#   authenticode    after `sfxpack authenticode` (self-signed certificate, stamped by a local
#                   timestamp authority so the table is not the size of the first signing run):
#                   osslsigncode verifies it, and the stub runs it exactly as the plain one
#                   (exit code, setup program's command line, extracted files and times);
#   naive           closing signature first, then a plain osslsigncode run: the stub refuses it
#                   in phase 0 with error 1006, and the setup program never runs.
#
# environment: SFXPACK (native sfxpack), SFXSTUB_EXE, SFXRUN_EXE, SFXPROBE_EXE, SIGNER_KEY
# (private key matching the stub's built-in key), and the Wine variables of the test prefix.
set -euo pipefail

: "${SFXPACK:?}" "${SFXSTUB_EXE:?}" "${SFXRUN_EXE:?}" "${SFXPROBE_EXE:?}" "${SIGNER_KEY:?}"
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_name=authenticode

work=$(mktemp -d /tmp/sfxac.XXXXXX)
mkdir -p "$work/tmp" "$work/in" "$work/keys" "$work/pkg"
pkg="$work/pkg/setup.exe"


# run NAME: runs the package at $pkg with the tail "/verysilent /x"; the setup program exits 7.
# Leaves sfxrun's output in out-NAME.txt, the probe's report in report-NAME.txt and the files it
# found in its folder in save-NAME/.
run() {
  local name=$1
  mkdir -p "$work/save-$name"
  "${WINE:-wine}" "$SFXRUN_EXE" --timeout 120 \
    --set "TEMP=$(winpath "$work/tmp")" --set "TMP=$(winpath "$work/tmp")" \
    --set "SFXPROBE_REPORT=$(winpath "$work/report-$name.txt")" --set "SFXPROBE_EXITCODES=7" \
    --set "SFXPROBE_SAVE=$(winpath "$work/save-$name")" \
    "$(winpath "$pkg")" "\"$(winpath "$pkg")\" /verysilent /x" \
    >"$work/out-$name.txt" 2>"$work/wine-stderr-$name.txt" || fail "sfxrun failed for $name"
  strip_cr "$work/out-$name.txt"
  if working_folders_in "$work/tmp"; then fail "$name: working folder left in TEMP"; fi
}
field() { grep -m1 "^$2=" "$work/out-$1.txt" | cut -d= -f2-; }
# The probe's report without what differs from run to run: the working folder's name and the
# times of the files the stub makes (the listed files keep their stored times).
normalized() {
  sed -E -e 's/_tr_sfx\.tm~[a-z][0-9]{5}/WORKDIR/g' \
    -e 's/^(file=(setup\.ovr|tarvo\.setup) [0-9]+) [0-9]+$/\1 TIME/' "$work/report-$1.txt"
}

# Inputs: payload files, a throwaway code-signing certificate and a local timestamp authority.
printf 'hello from the package\r\n' >"$work/in/readme.txt"
head -c 70000 /dev/urandom >"$work/in/data.bin"
touch -d '2001-02-03 04:05:06 UTC' "$work/in/readme.txt"
req() { openssl req -x509 -newkey rsa:2048 -nodes -days 2 "$@" 2>/dev/null || fail "openssl req $*"; }
req -subj /CN=sfxstub-e2e -addext extendedKeyUsage=codeSigning \
  -keyout "$work/keys/key.pem" -out "$work/keys/cert.pem"
req -subj /CN=sfxstub-e2e-tsa -addext extendedKeyUsage=critical,timeStamping \
  -keyout "$work/keys/tsa-key.pem" -out "$work/keys/tsa-cert.pem"

"$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$SFXPROBE_EXE" \
  --raw "readme.txt=$work/in/readme.txt" --file "data.bin=$work/in/data.bin" \
  --cmdline '/sfx %CMDLINE%' -o "$work/plain.exe" >/dev/null || fail "sfxpack pack failed"

# plain
cp "$work/plain.exe" "$pkg"
run plain
[ "$(field plain exit)" = 0x00000007 ] || fail "plain: exit code $(field plain exit)"
[ "$(field plain report)" = none ] || fail "plain: error report $(field plain report)"

# authenticode
"$SFXPACK" authenticode --cert "$work/keys/cert.pem" --cert-key "$work/keys/key.pem" \
  -n "sfxstub e2e" -i https://example.org/ \
  --tsa-certs "$work/keys/tsa-cert.pem" --tsa-key "$work/keys/tsa-key.pem" \
  --key "$SIGNER_KEY" "$work/plain.exe" --force -o "$pkg" >/dev/null || fail "sfxpack authenticode failed"
osslsigncode verify -CAfile "$work/keys/cert.pem" -TSA-CAfile "$work/keys/tsa-cert.pem" -in "$pkg" \
  >"$work/out-osslsigncode.txt" 2>&1 || fail "osslsigncode does not verify the signed package"
[ "$(stat -c %s "$pkg")" -gt "$(stat -c %s "$work/plain.exe")" ] || fail "no certificate table appended"
run authenticode
[ "$(field authenticode exit)" = 0x00000007 ] || fail "authenticode: exit code $(field authenticode exit)"
[ "$(field authenticode report)" = none ] || fail "authenticode: error report $(field authenticode report)"
diff <(normalized plain) <(normalized authenticode) >&2 || fail "the setup program saw something else"
diff -r "$work/save-plain" "$work/save-authenticode" >&2 || fail "extracted files differ"

# naive
osslsigncode sign -certs "$work/keys/cert.pem" -key "$work/keys/key.pem" \
  -in "$work/plain.exe" -out "$pkg.naive" >/dev/null 2>&1 || fail "osslsigncode sign failed"
mv "$pkg.naive" "$pkg"
run naive
[ "$(field naive exit)" = 0x000003EE ] || fail "naive: exit code $(field naive exit), expected 1006"
[[ "$(field naive report)" == 'An error 1006 (000003EE) has occured.'* ]] \
  || fail "naive: error report $(field naive report)"
[ ! -f "$work/report-naive.txt" ] || fail "naive: the setup program ran"

rm -rf "$work"
echo "PASS [authenticode]"
