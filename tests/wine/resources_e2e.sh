#!/usr/bin/env bash
# Resources set at pack time, end to end:
#   image        the resource rewrite on the stub itself (stub_resources_image_test: its own
#                section round-trips byte for byte, the edited stub passes pack's checks), and
#                the edited stub as the analysers see it (stub_image_test.sh);
#   LEVEL        for each execution level, a package with an icon, version information and that
#                level: read back by `sfxpack list` (text and JSON) and by pev's peres, and run
#                under Wine (Wine starts every level; it does not elevate);
#   authenticode the requireAdministrator package signed with `sfxpack authenticode`: it still
#                lists its resources, verifies with osslsigncode and runs;
#   no level     pack warns for a 64-bit stub without --execution-level, and not for a 32-bit one.
#
# environment: SFXPACK, SFXGEN (native), SFXSTUB_EXE, SFXRUN_EXE, SFXPROBE_EXE, SIGNER_KEY,
# IMAGE_TEST (the native stub_resources_image_test), STUB_IMAGE_TEST (stub_image_test.sh), and
# the Wine variables of the test prefix. Exits 77 when pev's peres or osslsigncode is missing.
set -euo pipefail

: "${SFXPACK:?}" "${SFXGEN:?}" "${SFXSTUB_EXE:?}" "${SFXRUN_EXE:?}" "${SFXPROBE_EXE:?}" "${SIGNER_KEY:?}"
: "${IMAGE_TEST:?}" "${STUB_IMAGE_TEST:?}"
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_name=resources
for tool in peres osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed (Debian: pev, osslsigncode)"; exit 77; }
done

work=$(mktemp -d /tmp/sfxres.XXXXXX)
mkdir -p "$work/tmp" "$work/keys"

# image
SFXSTUB_EDITED="$work/edited.exe" "$IMAGE_TEST" >"$work/out-image.txt" 2>&1 ||
  fail "stub_resources_image_test failed"
bash "$STUB_IMAGE_TEST" "$work/edited.exe" 131072 >"$work/out-analysers.txt" 2>&1 ||
  fail "the edited stub: $(grep FAIL "$work/out-analysers.txt" | tr '\n' ' ')"

"$SFXGEN" icon "$work/app.ico" || fail "sfxgen icon failed"
printf 'hello\r\n' >"$work/readme.txt"

# pack LEVEL OUT: a package with the icon, version information and LEVEL.
pack() {
  "$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$SFXPROBE_EXE" \
    --raw "readme.txt=$work/readme.txt" --cmdline '/sfx %CMDLINE%' --icon "$work/app.ico" \
    --version-info FileVersion=4.5.6.7 --version-info ProductVersion=1.2.3 \
    --version-info "CompanyName=Example Ltd" --version-info "ProductName=Example Setup" \
    --execution-level "$1" --force -o "$2" >/dev/null 2>"$work/pack-stderr.txt" || fail "sfxpack pack failed"
}
# run NAME PACKAGE: runs it with the tail "/verysilent"; the setup program exits 7.
run() {
  "${WINE:-wine}" "$SFXRUN_EXE" --timeout 120 \
    --set "TEMP=$(winpath "$work/tmp")" --set "TMP=$(winpath "$work/tmp")" \
    --set "SFXPROBE_REPORT=$(winpath "$work/probe-$1.txt")" --set "SFXPROBE_EXITCODES=7" \
    "$(winpath "$2")" "\"$(winpath "$2")\" /verysilent" \
    >"$work/out-$1.txt" 2>"$work/wine-stderr-$1.txt" || fail "sfxrun failed for $1"
  strip_cr "$work/out-$1.txt"
  grep -qx 'exit=0x00000007' "$work/out-$1.txt" || fail "$1: the package did not run the setup program"
  grep -qx 'report=none' "$work/out-$1.txt" || fail "$1: an error report"
  if working_folders_in "$work/tmp"; then fail "$1: working folder left in TEMP"; fi
}
# expect_listed LEVEL PACKAGE: what sfxpack list shows of the resources.
expect_listed() {
  local text json
  text=$("$SFXPACK" list -q --key "$SIGNER_KEY" "$2" 2>/dev/null) || fail "sfxpack list failed: $text"
  for line in 'icon: 32x32 4-bit, 16x16 4-bit' 'version info: file 4.5.6.7, product 1.2.3.0' \
      '  CompanyName: Example Ltd' '  ProductName: Example Setup' "execution level: $1"; do
    grep -qxF -- "$line" <<<"$text" || fail "sfxpack list does not show '$line': $text"
  done
  json=$("$SFXPACK" list --json --key "$SIGNER_KEY" "$2" 2>/dev/null) || fail "sfxpack list --json failed"
  for member in '"icon":[{"width":32,"height":32,"bits":4},{"width":16,"height":16,"bits":4}]' \
      '"file_version":"4.5.6.7","product_version":"1.2.3.0"' '"CompanyName":"Example Ltd"' \
      "\"execution_level\":\"$1\""; do
    grep -qF -- "$member" <<<"$json" || fail "sfxpack list --json has no $member: $json"
  done
}
# expect_peres LEVEL PACKAGE: what pev's peres reads: the numeric file version, the manifest's
# level, the icon group and its two images, the strings of the version resource. (This pev reads
# the fixed part 8 bytes early, for any program: it shows the signature 0xFEEF04BD as the "File
# Version" and the file version as the "Product Version".)
expect_peres() {
  local out="$work/peres-$1"
  mkdir -p "$out"
  local versions
  versions=$(peres -v "$2" 2>/dev/null) || fail "peres -v failed"
  grep -qE '^Product Version: +4\.5\.6\.7$' <<<"$versions" || fail "peres: not file version 4.5.6.7: $versions"
  (cd "$out" && peres -x "$2" >/dev/null 2>&1) || fail "peres -x failed"
  grep -qF "<requestedExecutionLevel level=\"$1\" uiAccess=\"false\"/>" "$out/resources/manifests/1.xml" ||
    fail "peres: the manifest does not ask for $1"
  grep -qF 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' "$out/resources/manifests/1.xml" ||
    fail "peres: the manifest lost its supportedOS entries"
  [ -f "$out/resources/groupicons/1.ico" ] || fail "peres: no icon group 1"
  [ "$(find "$out/resources/icons" -type f | wc -l)" = 2 ] || fail "peres: not the icon's two images"
  # Its text is UTF-16: ASCII with a zero after each letter.
  for text in CompanyName 'Example Ltd'; do
    tr -d '\000' <"$out/resources/versions/1.rc" | grep -qaF "$text" || fail "peres: the version resource lacks $text"
  done
}

for level in asInvoker highestAvailable requireAdministrator; do
  pack "$level" "$work/$level.exe"
  if grep -q 'execution-level' "$work/pack-stderr.txt"; then fail "$level: pack warned: $(cat "$work/pack-stderr.txt")"; fi
  expect_listed "$level" "$work/$level.exe"
  expect_peres "$level" "$work/$level.exe"
  run "$level" "$work/$level.exe"
done

# authenticode
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=sfxstub-e2e \
  -addext extendedKeyUsage=codeSigning -keyout "$work/keys/key.pem" -out "$work/keys/cert.pem" \
  >/dev/null 2>&1 || fail "openssl req failed"
"$SFXPACK" authenticode --cert "$work/keys/cert.pem" --cert-key "$work/keys/key.pem" -n "sfxstub e2e" \
  --key "$SIGNER_KEY" "$work/requireAdministrator.exe" -o "$work/signed.exe" >/dev/null 2>&1 ||
  fail "sfxpack authenticode failed"
osslsigncode verify -CAfile "$work/keys/cert.pem" -in "$work/signed.exe" >"$work/out-osslsigncode.txt" 2>&1 ||
  fail "osslsigncode does not verify the signed package"
expect_listed requireAdministrator "$work/signed.exe"
run authenticode "$work/signed.exe"

# no level: the warning, for the 64-bit stub only
"$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$SFXPROBE_EXE" --cmdline /x \
  -o "$work/plain.exe" >/dev/null 2>"$work/pack-stderr.txt" || fail "sfxpack pack failed without resources"
warned=no
grep -q 'Windows elevates only 32-bit setup programs by their name' "$work/pack-stderr.txt" && warned=yes
expected=no
[[ "$SFXSTUB_EXE" == *64.exe ]] && expected=yes
[ "$warned" = "$expected" ] || fail "warned about elevation: $warned, expected $expected"
"$SFXPACK" list -q --key "$SIGNER_KEY" "$work/plain.exe" 2>/dev/null |
  grep -qxF 'execution level: none (the manifest asks for none)' || fail "plain package: execution level"

rm -rf "$work"
echo "PASS [resources]"
