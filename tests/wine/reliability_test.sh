#!/usr/bin/env bash
# The stub under Wine when things go wrong around it: a full disk, a crashing setup program, a
# file held open at clean-up, two packages at once, and many runs in a row.
#
# usage: reliability_test.sh SCENARIO
# environment: as e2e_test.sh, plus HOLDER_EXE (host_holder). The disk-full scenario mounts a
# small tmpfs (needs root; exits 77, "skipped", where mounting is not allowed).
set -euo pipefail

scenario=${1:?scenario}
: "${SFXPACK:?}" "${SFXSTUB_EXE:?}" "${SFXRUN_EXE:?}" "${SFXPROBE_EXE:?}" "${SIGNER_KEY:?}"
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_name=$scenario

work=$(mktemp -d /tmp/sfxrel-"$scenario".XXXXXX)
mkdir -p "$work/tmp" "$work/in" "$work/pkg"
pkg="$work/pkg/setup.exe"
mounted=""

cleanup() { if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || true; fi; }
trap cleanup EXIT


pack() {  # OUTPUT [sfxpack options...]
  local out=$1; shift
  "$SFXPACK" pack --stub "$SFXSTUB_EXE" --key "$SIGNER_KEY" --main "$SFXPROBE_EXE" \
    --cmdline '%CMDLINE%' "$@" --force -o "$out" >/dev/null || fail "sfxpack pack failed"
}

# run PACKAGE TEMPFOLDER TAG [--set NAME=VALUE...]: runs the package quietly; sfxrun's output
# goes to out-TAG.txt, the probe's report to probe-TAG.txt.
run() {
  local package=$1 temp=$2 tag=$3; shift 3
  "${WINE:-wine}" "$SFXRUN_EXE" --timeout 120 --set "TEMP=$(winpath "$temp")" --set "TMP=$(winpath "$temp")" \
    --set "SFXPROBE_REPORT=$(winpath "$work/probe-$tag.txt")" "$@" \
    "$(winpath "$package")" "\"$(winpath "$package")\" /verysilent" \
    >"$work/out-$tag.txt" 2>>"$work/wine-stderr.txt" || fail "sfxrun failed ($tag)"
  strip_cr "$work/out-$tag.txt"
}

field() { grep -m1 "^$2=" "$work/out-$1.txt" | cut -d= -f2-; }
expect_exit() { [ "$(field "$1" exit)" = "$2" ] || fail "$1: exit code $(field "$1" exit), expected $2"; }
expect_report() { [ "$(field "$1" report)" = "$2" ] || fail "$1: report '$(field "$1" report)', expected '$2'"; }

printf 'hello\r\n' >"$work/in/readme.txt"
head -c 200000 /dev/urandom >"$work/in/data.bin"
FILES=(--raw "readme.txt=$work/in/readme.txt" --raw "data.bin=$work/in/data.bin")

case "$scenario" in
  disk-full)
    # TEMP on a small file system: first too small for setup.ovr (82, "extracting main exe"),
    # then room for setup.ovr and the small files but not the 3 MB listed file (112).
    head -c 3000000 /dev/urandom >"$work/in/big.bin"
    pack "$pkg" "${FILES[@]}" --raw "big.bin=$work/in/big.bin" --raw "after.txt=$work/in/readme.txt"
    mkdir -p "$work/small"
    if ! mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
      echo "SKIP [$scenario]: cannot mount a small file system here"; rm -rf "$work"; exit 77
    fi
    mounted="$work/small"
    run "$pkg" "$work/small" main
    expect_exit main "$(printf '0x%08X' 82)"
    expect_report main "$(report_text 82 'extracting main exe')"
    [ -z "$(ls -A "$work/small")" ] || fail "left in TEMP: $(ls -A "$work/small")"
    umount "$work/small"
    room=$(( ($(stat -c %s "$SFXPROBE_EXE") + 400000) / 1024 ))
    mount -t tmpfs -o size=${room}k tmpfs "$work/small" || fail "cannot mount again"
    run "$pkg" "$work/small" full
    # Windows' runtime turns the short write of a full disk into ERROR_DISK_FULL (112); Wine's
    # msvcrt fails that write with WriteFile's last error 0 and errno EINVAL, so the stub sees 87.
    case "$(field full exit)" in
      0x00000070) expect_report full "$(report_text 112 'extracting files')" ;;
      0x00000057) expect_report full "$(report_text 87 'extracting files')" ;;
      *) fail "full disk: exit code $(field full exit), expected 112 (or Wine's 87)" ;;
    esac
    if [ -f "$work/probe-full.txt" ] || [ -f "$work/probe-main.txt" ]; then fail "the setup program ran"; fi
    [ -z "$(ls -A "$work/small")" ] || fail "left in TEMP: $(ls -A "$work/small")"
    ;;
  crash)
    pack "$pkg" "${FILES[@]}"
    run "$pkg" "$work/tmp" crash --set SFXPROBE_CRASH=1
    expect_exit crash 0xC0000005
    expect_report crash none
    grep -q '^run=1' "$work/probe-crash.txt" || fail "the setup program did not run"
    [ -z "$(ls -A "$work/tmp")" ] || fail "left in TEMP: $(ls -A "$work/tmp")"
    ;;
  locked-file)
    : "${HOLDER_EXE:?}"
    pack "$pkg" "${FILES[@]}"
    # The holder keeps data.bin open without sharing for 4 s, longer than the clean-up takes.
    run "$pkg" "$work/tmp" locked --set "SFXPROBE_HOLDER=$(winpath "$HOLDER_EXE")" \
      --set "SFXPROBE_HOLD=data.bin,4000"
    expect_exit locked 0x00000000
    expect_report locked none
    left=$(cd "$work/tmp" && find . -mindepth 1 | sort | tr '\n' ' ')
    [[ "$left" =~ ^\./_tr_sfx\.tm~[a-z][0-9]{5}\ \./_tr_sfx\.tm~[a-z][0-9]{5}/data\.bin\ $ ]] \
      || fail "after the clean-up TEMP holds '$left', expected only the held data.bin in its folder"
    sleep 5  # the holder lets go; what it held is the only thing left to remove
    rm -rf "$work/tmp"/_tr_sfx.tm~*
    ;;
  concurrent)
    # Two packages started together with one TEMP: two folders, each run sees only its own files.
    pack "$pkg" "${FILES[@]}"
    pack "$work/pkg/other.exe" --raw "other.txt=$work/in/readme.txt"
    run "$pkg" "$work/tmp" one --set SFXPROBE_EXITCODES=3 &
    first=$!
    run "$work/pkg/other.exe" "$work/tmp" two --set SFXPROBE_EXITCODES=4 &
    second=$!
    wait $first || fail "first run"
    wait $second || fail "second run"
    expect_exit one 0x00000003
    expect_exit two 0x00000004
    self1=$(grep -m1 '^self=' "$work/probe-one.txt" | cut -d= -f2-)
    self2=$(grep -m1 '^self=' "$work/probe-two.txt" | cut -d= -f2-)
    [ "${self1%\\*}" != "${self2%\\*}" ] || fail "both runs used $self1"
    files1=$(grep '^file=' "$work/probe-one.txt" | cut -d' ' -f1 | tr '\n' ' ')
    files2=$(grep '^file=' "$work/probe-two.txt" | cut -d' ' -f1 | tr '\n' ' ')
    [ "$files1" = "file=data.bin file=readme.txt file=setup.ovr file=tarvo.setup " ] \
      || fail "first run saw $files1"
    [ "$files2" = "file=other.txt file=setup.ovr file=tarvo.setup " ] || fail "second run saw $files2"
    [ -z "$(ls -A "$work/tmp")" ] || fail "left in TEMP: $(ls -A "$work/tmp")"
    ;;
  repeated)
    # Ten runs in a row, successful and failing, leave TEMP as it was.
    pack "$pkg" "${FILES[@]}"
    mkdir -p "$work/tmp/existing" && echo keep >"$work/tmp/keep.txt"
    before=$(cd "$work/tmp" && find . | sort | md5sum)
    for i in 1 2 3 4 5 6 7 8 9 10; do
      run "$pkg" "$work/tmp" "r$i" --set "SFXPROBE_EXITCODES=$((i % 3))"
      expect_exit "r$i" "$(printf '0x%08X' $((i % 3)))"
    done
    [ "$(cd "$work/tmp" && find . | sort | md5sum)" = "$before" ] || fail "TEMP changed: $(ls -A "$work/tmp")"
    ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

cleanup; mounted=""
rm -rf "$work"
echo "PASS [$scenario]"
