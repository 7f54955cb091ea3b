#!/usr/bin/env bash
# End-to-end tests of the stub under Wine: packs sfxprobe (a stand-in setup program) with sfxpack,
# runs the package through sfxrun and checks what the setup program saw, the error report, the
# exit code and that no working folder is left behind.
#
# usage: e2e_test.sh SCENARIO
# environment: SFXPACK (native sfxpack), SFXSTUB_EXE (the generic stub: pack stamps the key into
# each package's copy), SFXRUN_EXE, SFXPROBE_EXE, SIGNER_KEY (the private key the packages are
# signed with), and the Wine variables of the test prefix.
# Each scenario works in a fresh folder under /tmp (short paths), removed when it passes.
set -euo pipefail

scenario=${1:?scenario}
: "${SFXPACK:?}" "${SFXSTUB_EXE:?}" "${SFXRUN_EXE:?}" "${SFXPROBE_EXE:?}" "${SIGNER_KEY:?}"
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_name=$scenario
# Wine names Unix files in the Unix locale's character set, and takes its ANSI code page from
# the locale too: UTF-8 and the Western code page (1252), whatever the caller's locale.
export LC_ALL=C.UTF-8

# The package's folder and TEMP (also TMP), by scenario. The unicode ones use names that the
# Western code page cannot hold: Cyrillic, Polish and Chinese.
non_ansi='Загрузки Łódź 下载'
pkg_folder="pkg dir" temp_folder=tmp
case "$scenario" in
  unicode-package-folder) pkg_folder=$non_ansi ;;
  unicode-temp) temp_folder="Łukasz 東京 Temp" ;;
  unicode-both) pkg_folder=$non_ansi temp_folder="Łukasz 東京 Temp" ;;
esac

work=$(mktemp -d /tmp/sfxe2e-"$scenario".XXXXXX)
tmp="$work/$temp_folder"
mkdir -p "$tmp" "$work/in" "$work/save" "$work/$pkg_folder"
pkg="$work/$pkg_folder/setup pkg.exe"
report="$work/probe.txt"
out="$work/out.txt"

W_TMP=$(winpath "$tmp")
W_PKG=$(winpath "$pkg")
W_SRC=$(winpath "$work/$pkg_folder")

# pack MAIN TEMPLATE [sfxpack options...]
pack() {
  local main=$1 template=$2; shift 2
  "$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$main" "$@" \
    --cmdline "$template" --force -o "$pkg" 2>"$work/out-pack.txt" \
    || fail "sfxpack pack failed: $(cat "$work/out-pack.txt")"
}

# expect_salt yes|no: what `sfxpack list` says about the package's salt block.
expect_salt() {
  local listing
  listing=$("$SFXPACK" list --key "$SIGNER_KEY" "$pkg") || fail "sfxpack list failed: $listing"
  grep -q "^salt: $1" <<<"$listing" || fail "package salt is not '$1': $listing"
}

# run TAIL [EXITCODES]: runs the package with the command line "\"<pkg>\" TAIL".
run() {
  local tail=$1 codes=${2:-0} options
  local line="\"$W_PKG\""
  [ -n "$tail" ] && line="$line $tail"
  read -r -a options <<<"${SFXRUN_OPTS:-}"  # sfxrun's own options, in words
  "${WINE:-wine}" "$SFXRUN_EXE" --timeout 120 "${options[@]}" \
    --set "TEMP=${RUN_TEMP:-$W_TMP}" --set "TMP=${RUN_TEMP:-$W_TMP}" \
    --set "SFXPROBE_REPORT=$(winpath "$report")" --set "SFXPROBE_EXITCODES=$codes" \
    --set "SFXPROBE_SAVE=$(winpath "$work/save")" --set "SFXPROBE_GROW_MAIN=${GROW_MAIN:-}" \
    --set "SFXPROBE_TRY_WRITE=${TRY_WRITE:-}" --set "SFXPROBE_PAUSE=${PAUSE:-}" \
    "$W_PKG" "$line" >"$out" 2>"$work/wine-stderr.txt" || fail "sfxrun failed"
  strip_cr "$out"
}

field() { grep -m1 "^$1=" "$out" | cut -d= -f2-; }
expect_exit() { [ "$(field exit)" = "$1" ] || fail "exit code $(field exit), expected $1"; }
expect_report() { [ "$(field report)" = "$1" ] || fail "report '$(field report)', expected '$1'"; }
expect_runs() {
  local n=0
  [ -f "$report" ] && n=$(grep -c '^run=' "$report")
  [ "$n" = "$1" ] || fail "$n runs of the setup program, expected $1"
}
expect_no_leftovers() {
  if working_folders_in "$tmp"; then fail "working folder left in TEMP"; fi
}
# Sets `self` (the setup program's path) and `wf` (the working folder) from the report, checking
# that it ran as tarvo.setup from a working folder in TEMP.
read_working_folder() {
  self=$(grep -m1 '^self=' "$report" | cut -d= -f2-)
  wf=${self%\\tarvo.setup}
  [[ "$self" == *'\tarvo.setup' ]] || fail "the setup program ran as $self, not as tarvo.setup"
  [[ "$wf" =~ ^"$W_TMP"'\_tr_sfx.tm~'[a-z][0-9]{5}$ ]] || fail "working folder $wf"
  local cwd
  cwd=$(grep -m1 '^cwd=' "$report" | cut -d= -f2-)
  [ "$cwd" != "$wf" ] || fail "the setup program started in the working folder"
}
expect_command_line() {
  grep -qxF -- "cmdline=$1" "$report" || fail "command line differs; expected: $1"
}
# Stored objects are signed objects: sfxpack gives a raw file a binary trailer (48 bytes ending
# in "OLMSignd"), and the stub copies the object out unchanged, trailer included; setup.ovr is
# the inflated main program, and a package file is copied out still packed.
expect_files_extracted() {
  local f n
  for f in readme.txt data.bin empty.dat "with blank.txt"; do
    n=$(stat -c %s "$work/in/$f")
    [ "$(stat -c %s "$work/save/$f")" = $((n + 48)) ] || fail "listed file $f has the wrong size"
    cmp -s -n "$n" "$work/in/$f" "$work/save/$f" || fail "listed file $f differs"
    [ "$(tail -c 8 "$work/save/$f")" = OLMSignd ] || fail "listed file $f lost its trailer"
  done
  cmp -s "$SFXPROBE_EXE" "$work/save/setup.ovr" || fail "setup.ovr is not the inflated main program"
  [ "$(head -c 16 "$work/save/packed.bin")" = OLMsetupFPkgFile ] || fail "packed.bin was not copied packed"
}

# Payload files stored as they are (text, binary, empty, a name with blanks) and one stored as a
# package file, which is copied out still packed.
printf 'hello from the package\r\n' >"$work/in/readme.txt"
head -c 150000 /dev/urandom >"$work/in/data.bin"
: >"$work/in/empty.dat"
printf 'x' >"$work/in/with blank.txt"
touch -d '2001-02-03 04:05:06 UTC' "$work/in/readme.txt"
FILES=(--raw "readme.txt=$work/in/readme.txt" --raw "data.bin=$work/in/data.bin"
       --raw "empty.dat=$work/in/empty.dat" --raw "with blank.txt=$work/in/with blank.txt"
       --file "packed.bin=$work/in/data.bin")

case "$scenario" in
  happy)
    pack "$SFXPROBE_EXE" '/sfx /sfxstorage "%TMPPATH%" /from %SRCPATH% %CMDLINE%' "${FILES[@]}"
    expect_salt yes  # packages are salted by default; the stub reads past the block
    run '/x "quoted arg" %SRCPATH%'
    expect_exit 0x00000000
    expect_report none
    expect_runs 1
    read_working_folder
    expect_command_line "\"$self\" /sfx /sfxstorage \"$wf\" /from $W_SRC /x \"quoted arg\" %SRCPATH% /srcpath \"$W_SRC\""
    expect_files_extracted
    grep -qxF "file=readme.txt 72 $(stat -c %Y "$work/in/readme.txt")" "$report" \
      || fail "readme.txt lacks its size or time stamp"
    # Other accounts may read the working folder but neither write nor delete there.
    grep -qx 'others-may-change=0' "$report" || fail "other accounts may change the working folder"
    expect_no_leftovers
    # sfxpack tells which stub the package carries: the one of this build's width.
    kind="stub: 32-bit Windows (PE32)"
    [ "${WINEARCH:-win32}" = win64 ] && kind="stub: 64-bit Windows (PE32+)"
    "$SFXPACK" list --key "$SIGNER_KEY" "$pkg" | grep -qxF "$kind" || fail "sfxpack list does not say '$kind'"
    ;;
  unicode-package-folder | unicode-temp | unicode-both)
    # The package in a folder, or TEMP and TMP naming a folder, that the ANSI code page cannot
    # name (or both): the stub opens itself, works in TEMP, and hands the setup program every
    # folder and the command-line tail with their true names.
    pack "$SFXPROBE_EXE" '/sfx /sfxstorage "%TMPPATH%" %CMDLINE%' "${FILES[@]}"
    run '/verysilent /user=Łukasz /city=東京'
    expect_exit 0x00000000; expect_report none; expect_runs 1
    read_working_folder
    expect_command_line "\"$self\" /sfx /sfxstorage \"$wf\" /verysilent /user=Łukasz /city=東京 /srcpath \"$W_SRC\""
    expect_files_extracted
    expect_no_leftovers
    [ "$(ls -A "$tmp")" = "" ] || fail "left in TEMP: $(ls -A "$tmp")"
    ;;
  cp1252-name)
    # A listed name and a template in the Western code page's bytes, as every package made so
    # far stores them: the file arrives as café.txt and the setup program reads "Café".
    pack "$SFXPROBE_EXE" $'/title=Caf\xe9 %CMDLINE%' --raw $'caf\xe9.txt='"$work/in/readme.txt"
    mv "$pkg" "$work/from-bytes.exe"
    # The same package from UTF-8 with --codepage 1252, byte for byte.
    pack "$SFXPROBE_EXE" '/title=Café %CMDLINE%' --codepage 1252 --raw "café.txt=$work/in/readme.txt"
    cmp -s "$pkg" "$work/from-bytes.exe" || fail "--codepage 1252 stored other bytes than the cp1252 ones"
    run '/verysilent'
    expect_exit 0x00000000; expect_report none; expect_runs 1
    read_working_folder
    expect_command_line "\"$self\" /title=Café /verysilent /srcpath \"$W_SRC\""
    grep -q '^file=café\.txt ' "$report" || fail "café.txt is not in the working folder"
    n=$(stat -c %s "$work/in/readme.txt")
    cmp -s -n "$n" "$work/in/readme.txt" "$work/save/café.txt" || fail "café.txt differs"
    expect_no_leftovers
    ;;
  package-held-for-writing)
    # Someone renamed the running package away and holds a byte-identical copy at its name open
    # for writing, to rewrite it once the check has passed: the stub can't read it as a package
    # no one can write, and refuses it before making a working folder. (Wine names an image by
    # the name it was loaded from, so the stub opens what stands there: the copy. Windows names
    # the image's file as it is called now, and the stub reads the renamed image itself;
    # OwnImageTest in io_test covers that way.)
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    SFXRUN_OPTS="--swap-package --hold-for-writing" run '/verysilent'
    grep -qx held "$out" || fail "the copy was not held for writing"
    expect_exit 0x000003EE
    expect_report "$(report_text 1006 "$phase0_text")"
    expect_runs 0
    [ -z "$(ls -A "$tmp")" ] || fail "a working folder was created for a package held for writing"
    ;;
  package-locked-while-running)
    # The same copy, not held: the stub reads it, and while it does (its setup program runs
    # then) nobody can open it for writing.
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    SFXRUN_OPTS="--swap-package" TRY_WRITE="$W_PKG" run '/verysilent'
    grep -qx swapped "$out" || fail "the package was not swapped"
    expect_exit 0x00000000; expect_report none; expect_runs 1
    grep -qx 'write=32' "$report" || fail "the package could be opened for writing while the stub ran"
    expect_no_leftovers
    ;;
  folder-swapped)
    # While the setup program runs, the working folder is moved away and a link to another
    # folder put at its name (from the Unix side: Wine makes no links, and under Wine all
    # accounts are one). Nothing in the link's target may be deleted: not the planted
    # tarvo.setup and setup.ovr, not anything else.
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    mkdir -p "$work/outside" "$work/pause"
    for f in keep.txt tarvo.setup setup.ovr readme.txt; do echo keep >"$work/outside/$f"; done
    PAUSE=$(winpath "$work/pause") run '/verysilent' &
    runner=$!
    for _ in $(seq 600); do [ -f "$work/pause/folder.txt" ] && break; sleep 0.1; done
    [ -f "$work/pause/folder.txt" ] || { kill $runner; fail "the setup program never paused"; }
    wname=$(tr -d '\r' <"$work/pause/folder.txt"); wname=${wname##*\\}
    mv "$tmp/$wname" "$tmp/$wname.away"
    ln -s "$work/outside" "$tmp/$wname"
    touch "$work/pause/go"
    wait $runner || fail "sfxrun failed"
    expect_exit 0x00000000; expect_report none; expect_runs 1
    for f in keep.txt tarvo.setup setup.ovr readme.txt; do
      [ "$(cat "$work/outside/$f" 2>/dev/null)" = keep ] || fail "$f in the link's target was deleted or changed"
    done
    rm -f "$tmp/$wname"; rm -rf "$tmp/$wname.away"
    ;;
  folder-replaced-between-runs)
    # The setup program asks for a restart; while it runs, the working folder is moved away and
    # a folder holding another program as setup.ovr and tarvo.setup is put at its name (from the
    # Unix side: Wine lets Windows code rename a folder the stub holds, and Unix renames ignore
    # Windows sharing anyway). The stub must see that the folder is no longer the one it made:
    # the planted program never starts (it would report a second run), the phase ends with 267,
    # and nothing in the planted folder is touched.
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    mkdir -p "$work/pause"
    PAUSE=$(winpath "$work/pause") run '/verysilent' '0x20000010,0' &
    runner=$!
    for _ in $(seq 600); do [ -f "$work/pause/folder.txt" ] && break; sleep 0.1; done
    [ -f "$work/pause/folder.txt" ] || { kill $runner; fail "the setup program never paused"; }
    wname=$(tr -d '\r' <"$work/pause/folder.txt"); wname=${wname##*\\}
    mv "$tmp/$wname" "$tmp/$wname.away"
    mkdir "$tmp/$wname"
    cp "$SFXPROBE_EXE" "$tmp/$wname/setup.ovr"
    cp "$SFXPROBE_EXE" "$tmp/$wname/tarvo.setup"
    touch "$work/pause/go"
    wait $runner || fail "sfxrun failed"
    expect_exit 0x0000010B
    expect_report "$(report_text 267 spawning)"
    expect_runs 1
    for f in setup.ovr tarvo.setup; do
      cmp -s "$SFXPROBE_EXE" "$tmp/$wname/$f" || fail "the planted $f was changed or deleted"
    done
    rm -rf "${tmp:?}/$wname" "$tmp/$wname.away"
    ;;
  empty-template)
    pack "$SFXPROBE_EXE" ''
    run '/verysilent'
    expect_exit 0x00000000
    self=$(grep -m1 '^self=' "$report" | cut -d= -f2-)
    grep -qxF "cmdline=\"$self\"  /srcpath \"$W_SRC\"" "$report" || fail "empty template"
    expect_no_leftovers
    ;;
  restart-once)
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    GROW_MAIN=1 run '/silent' '0x20000010,0'
    expect_exit 0x00000000; expect_report none; expect_runs 2
    # The first run grew setup.ovr by a byte; the second run must be a fresh copy of it.
    n=$(stat -c %s "$SFXPROBE_EXE")
    sizes=$(sed -n 's/^file=tarvo.setup \([0-9]*\) .*/\1/p' "$report" | tr '\n' ' ')
    [ "$sizes" = "$n $((n + 1)) " ] || fail "launch copies of $sizes bytes: not a fresh copy per run"
    expect_no_leftovers
    ;;
  authenticode)
    # A package with an Authenticode certificate table after its closing signature.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ac-key.pem" -out "$work/ac-cert.pem" \
      -subj /CN=sfxstub-test -days 2 2>/dev/null || fail "openssl could not make a certificate"
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    "$SFXPACK" authenticode --cert "$work/ac-cert.pem" --cert-key "$work/ac-key.pem" \
      --key "$SIGNER_KEY" "$pkg" --force -o "$pkg.signed" >/dev/null || fail "sfxpack authenticode failed"
    mv "$pkg.signed" "$pkg"
    expect_salt yes
    run '/verysilent' '7'
    expect_exit 0x00000007; expect_report none; expect_runs 1
    expect_no_leftovers
    # One byte changed in the signed part: refused as any damaged package.
    rm -f "$report"
    printf '\x5A' | dd of="$pkg" bs=1 seek=$(( $(stat -c %s "$pkg") / 3 )) conv=notrunc status=none
    run '/verysilent'
    expect_exit 0x000003EE
    expect_report "$(report_text 1006 "$phase0_text")"
    expect_runs 0
    ;;
  unsalted)
    # A package without a salt block, as older sfxpack versions made them, still runs.
    pack "$SFXPROBE_EXE" '%CMDLINE%' --no-salt "${FILES[@]}"
    expect_salt no
    run '/verysilent' '3'
    expect_exit 0x00000003; expect_report none; expect_runs 1
    [ "$(tail -c 8 "$work/save/data.bin")" = OLMSignd ] || fail "data.bin lost its trailer"
    expect_no_leftovers
    ;;
  restart-limit)
    pack "$SFXPROBE_EXE" '%CMDLINE%'
    run '' '0x20000010'
    expect_exit 0x20000010; expect_report none; expect_runs 3
    expect_no_leftovers
    ;;
  exit-codes)
    pack "$SFXPROBE_EXE" '%CMDLINE%'
    run '/oem' '5'
    expect_exit 0x00000005; expect_report none; expect_runs 1
    expect_no_leftovers
    rm -f "$report"
    run '/oem' '0xC0000005'
    expect_exit 0xC0000005; expect_report none; expect_runs 1
    expect_no_leftovers
    ;;
  corrupt-package)
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    size=$(stat -c %s "$pkg")
    printf '\x5A' | dd of="$pkg" bs=1 seek=$((size / 2)) conv=notrunc status=none
    run '/verysilent'
    expect_exit 0x000003EE
    expect_report "$(report_text 1006 "$phase0_text")"
    expect_runs 0
    [ -z "$(ls -A "$tmp")" ] || fail "a working folder was created for a corrupt package"
    ;;
  other-key)
    # A stub that carries the test key (`sfxpack stub` stamps it into the generic one): sfxpack
    # refuses to pack it with another key, and the stub refuses the package made anyway.
    "$SFXPACK" stub --key "$SIGNER_KEY" --stub "$SFXSTUB_EXE" -o "$work/keyed.exe" 2>/dev/null \
      || fail "sfxpack stub failed"
    "$SFXPACK" keygen "$work/other" >/dev/null || fail "sfxpack keygen failed"
    if "$SFXPACK" pack --stub "$work/keyed.exe" --key "$work/other.pem" --main "$SFXPROBE_EXE" \
        --cmdline '%CMDLINE%' --force -o "$pkg" 2>"$work/out-pack.txt"; then
      fail "sfxpack packed with a key the stub does not carry"
    fi
    grep -q "is not the key built into --stub" "$work/out-pack.txt" || fail "no reason given: $(cat "$work/out-pack.txt")"
    "$SFXPACK" pack --stub "$work/keyed.exe" --key "$work/other.pem" --main "$SFXPROBE_EXE" \
      --cmdline '%CMDLINE%' --allow-other-key --force -o "$pkg" 2>/dev/null || fail "sfxpack pack failed"
    # verify says what the stub will do: the signature verifies with that key, but the stub does
    # not carry it.
    status=0
    "$SFXPACK" verify --key "$work/other.pub.pem" "$pkg" >"$work/out-verify.txt" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "sfxpack verify exited with $status for a stub without the key"
    grep -q "stub does not carry that key" "$work/out-verify.txt" || fail "verify: $(cat "$work/out-verify.txt")"
    run '/verysilent'
    expect_exit 0x000003EE
    expect_report "$(report_text 1006 "$phase0_text")"
    expect_runs 0
    ;;
  generic-stub)
    # A key of the author's own, stamped into the generic stub by pack: the package runs.
    "$SFXPACK" keygen "$work/own" >/dev/null || fail "sfxpack keygen failed"
    SIGNER_KEY=$work/own.pem pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    run '/verysilent'
    expect_exit 0x00000000; expect_report none; expect_runs 1
    expect_files_extracted
    # The same package with its stub's key slot emptied again, signed anew with that key: the
    # generic stub refuses it as it refuses every package, and verify says why.
    at=$(LC_ALL=C grep -obUaP '\x73\x66\x78\x4b\x65\x79\x30\x31\x9e\x37\x79\xb9\x7f\x4a\x7c\x15' "$pkg" | head -n 1 | cut -d: -f1)
    [ -n "$at" ] || fail "no key slot in the package"
    head -c -48 "$pkg" >"$work/body.exe"
    dd if=/dev/zero of="$work/body.exe" bs=1 seek=$((at + 16)) count=404 conv=notrunc status=none
    "$SFXPACK" sign --kind binary --key "$work/own.pem" "$work/body.exe" -o "$pkg" --force >/dev/null \
      || fail "sfxpack sign failed"
    status=0
    "$SFXPACK" verify "$pkg" >"$work/out-verify.txt" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "sfxpack verify exited with $status for a generic stub's package"
    grep -q "stub is generic" "$work/out-verify.txt" || fail "verify: $(cat "$work/out-verify.txt")"
    # With the key, the signature and the archive pass: only the stub's empty slot refuses it.
    status=0
    "$SFXPACK" verify --key "$work/own.pub.pem" "$pkg" >"$work/out-verify.txt" 2>&1 || status=$?
    if [ "$status" != 1 ] || ! grep -q "signature: valid" "$work/out-verify.txt" \
        || ! grep -q "stub does not carry that key" "$work/out-verify.txt"; then
      fail "verify --key: $(cat "$work/out-verify.txt")"
    fi
    rm -rf "$work/save"; mkdir -p "$work/save"; rm -f "$report"
    run '/verysilent'
    expect_exit 0x000003EE
    expect_report "$(report_text 1006 "$phase0_text")"
    expect_runs 0
    ;;
  bad-main-program)
    # sfxpack refuses such a package unless asked: the stub's own refusal is what is tested.
    printf 'this is not a program\r\n' >"$work/in/notexe.txt"
    pack "$work/in/notexe.txt" '%CMDLINE%' "${FILES[@]}" --skip-stub-checks
    run ''
    expect_exit 0x000000C1  # ERROR_BAD_EXE_FORMAT from process creation
    expect_report "$(report_text 193 spawning)"
    expect_runs 0
    expect_no_leftovers
    ;;
  unwritable-file)
    pack "$SFXPROBE_EXE" '%CMDLINE%' --file "readme.txt=$work/in/readme.txt" \
      --raw 'bad?name.txt='"$work/in/data.bin" --raw "later.txt=$work/in/readme.txt" --skip-stub-checks
    run '/verysilent'
    expect_exit 0x00000057  # the runtime's EINVAL for an invalid name, as ERROR_INVALID_PARAMETER
    expect_report "$(report_text 87 'extracting files')"
    expect_runs 0
    # The files before the failing one were written and the clean-up removed them with the folder.
    expect_no_leftovers
    ;;
  no-working-folder)
    # TEMP names a folder whose parent is missing: neither it nor the working folder can be
    # created, and phase 1 fails with 82 (not with the creation's own "path not found").
    pack "$SFXPROBE_EXE" '%CMDLINE%' "${FILES[@]}"
    RUN_TEMP="$W_TMP\\missing\\deeper" run '/verysilent'
    expect_exit 0x00000052
    expect_report "$(report_text 82 'extracting main exe')"
    expect_runs 0
    [ -z "$(ls -A "$tmp")" ] || fail "something was created in TEMP's parent: $(ls -A "$tmp")"
    ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

rm -rf "$work"
echo "PASS [$scenario]"
