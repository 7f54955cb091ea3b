#!/usr/bin/env bash
# sfxpack as an author installs it: `cmake --install` of the native tree into a scratch prefix,
# which is then moved elsewhere; the moved tool alone (its own shipped stubs, found beside it)
# makes a key and a package of this build's width, which runs under Wine.
#
# usage: installed_e2e.sh CMAKE NATIVE_BUILD ARCH (x86 or x64)
# environment: SFXRUN_EXE, SFXPROBE_EXE and the Wine variables of the test prefix.
set -euo pipefail
cmake=${1:?cmake} native=${2:?native build} arch=${3:?arch}
: "${SFXRUN_EXE:?}" "${SFXPROBE_EXE:?}"
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_name=installed-sfxpack

work=$(mktemp -d /tmp/sfxe2e-installed.XXXXXX)
"$cmake" --install "$native" --prefix "$work/prefix" --component sfxpack >"$work/out-install.txt" 2>&1 \
  || fail "cmake --install failed"
mv "$work/prefix" "$work/moved"
tool=$work/moved/bin/sfxpack
"$tool" --version >"$work/out-version.txt" || fail "sfxpack --version failed"
grep -q "^stubs in $work/moved/share/sfxpack:" "$work/out-version.txt" || fail "the stubs are not its own"

"$tool" keygen "$work/author" >"$work/out-keygen.txt" || fail "sfxpack keygen failed"
fingerprint=$(sed -n 's/^fingerprint: //p' "$work/out-keygen.txt")
mkdir -p "$work/in" "$work/tmp" "$work/save"
printf 'installed\r\n' >"$work/in/readme.txt"
"$tool" pack --arch "$arch" --key "$work/author.pem" --main "$SFXPROBE_EXE" \
  --raw "readme.txt=$work/in/readme.txt" --cmdline '/sfx %CMDLINE%' -o "$work/setup.exe" \
  >"$work/out-pack.txt" 2>&1 || fail "sfxpack pack failed"
"$tool" verify --expect-fingerprint "$fingerprint" "$work/setup.exe" >"$work/out-verify.txt" 2>&1 \
  || fail "sfxpack verify refused the package"
# The package's stub is the shipped one with the author's key stamped in.
"$tool" stub --arch "$arch" --key "$work/author.pub.pem" -o "$work/stub.exe" >/dev/null || fail "sfxpack stub failed"
cmp -s -n "$(stat -c %s "$work/stub.exe")" "$work/stub.exe" "$work/setup.exe" || fail "the package's stub is not the shipped one"

"${WINE:-wine}" "$SFXRUN_EXE" --timeout 120 --set "TEMP=$(winpath "$work/tmp")" --set "TMP=$(winpath "$work/tmp")" \
  --set "SFXPROBE_REPORT=$(winpath "$work/probe.txt")" --set "SFXPROBE_SAVE=$(winpath "$work/save")" \
  "$(winpath "$work/setup.exe")" "\"$(winpath "$work/setup.exe")\" /verysilent" >"$work/out.txt" 2>/dev/null \
  || fail "sfxrun failed"
strip_cr "$work/out.txt"
grep -qx 'exit=0x00000000' "$work/out.txt" || fail "the package did not run"
grep -q '^run=' "$work/probe.txt" || fail "the setup program did not run"
cmp -s -n 11 "$work/in/readme.txt" "$work/save/readme.txt" || fail "readme.txt did not arrive"
rm -rf "$work"
echo "PASS [installed-sfxpack]"
