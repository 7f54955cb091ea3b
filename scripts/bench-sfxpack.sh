#!/usr/bin/env bash
# Time and peak memory of sfxpack's commands against what reading the same bytes costs at best
# (run by hand, never a test). For each size (MiB; default 1024 and 3584) it makes one input of
# random bytes under the scratch folder and measures, one after the other:
#   baseline      md5sum of the input, then cat of it to a file: one hash pass, one copy;
#   pack --raw    the input as a raw listed file (salt pass, then copy and hash);
#   sign          a binary trailer appended to a copy;
#   verify, list  the package;
#   extract       the package into a scratch folder (the listed file copied as stored);
#   pack --file   the input compressed (zlib level 9: bound by compression, shown for scale);
#   extract --decode  that package, inflated back.
# Each line: wall seconds, peak RSS (max resident set, MiB), and the ratio to the baseline.
# Goals: peak RSS under 64 MiB for every command at every size; pack, sign, verify, list and
# extract within 1.5 x the baseline.
#
# usage: scripts/bench-sfxpack.sh [SIZE_MIB ...]
# environment: SFXPACK (default build/native/tools/sfxpack/sfxpack), SFXPACK_BENCH_DIR (scratch,
#   default /tmp/sfxpack-bench; removed at the end), SFXPACK_BENCH_COMPRESS=0 to leave out the
#   compressed runs (slow on random data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sfxpack=$(realpath "${SFXPACK:-$root/build/native/tools/sfxpack/sfxpack}")
bench=${SFXPACK_BENCH_DIR:-/tmp/sfxpack-bench}
compress=${SFXPACK_BENCH_COMPRESS:-1}
sizes=("$@")
[ "${#sizes[@]}" -gt 0 ] || sizes=(1024 3584)
[ -x "$sfxpack" ] || { echo "no sfxpack at $sfxpack: build it first" >&2; exit 2; }
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (GNU time)" >&2; exit 2; }

rm -rf "$bench"
mkdir -p "$bench"
trap 'rm -rf "$bench"' EXIT
key="$root/keys/test-signer/signer-private.pem"
pub="$root/keys/test-signer/signer-public.pem"
# A stand-in stub and main program: the smallest PE images ("MZ", the header offset, "PE\0\0");
# the stub with a key slot (its marker, then a key that is not the test key: --allow-other-key).
python3 - "$bench" <<'PY'
import struct, sys
pe = bytearray(0x200)
pe[0:2] = b"MZ"
struct.pack_into("<I", pe, 0x3C, 0x40)
pe[0x40:0x44] = b"PE\0\0"
marker = b"sfxKey01" + bytes([0x9e, 0x37, 0x79, 0xb9, 0x7f, 0x4a, 0x7c, 0x15])
open(sys.argv[1] + "/stub.exe", "wb").write(pe + marker + b"\x01" * 404)
open(sys.argv[1] + "/main.exe", "wb").write(pe + bytes(4096))
PY

baseline=0
# measure LABEL COMMAND...: prints seconds, peak RSS and the ratio to the baseline.
measure() {
  local label=$1; shift
  sync
  /usr/bin/time -f "%e %M" -o "$bench/time" "$@" >/dev/null 2>"$bench/stderr" ||
    { echo "$label failed:"; cat "$bench/stderr"; exit 1; }
  read -r seconds kib <"$bench/time"
  local ratio="-"
  [ "$baseline" = 0 ] || ratio=$(awk -v a="$seconds" -v b="$baseline" 'BEGIN { printf "%.2f", a / b }')
  printf "  %-18s %8.2f s %8.1f MiB   x%s\n" "$label" "$seconds" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$ratio"
  LAST_SECONDS=$seconds
}

for size in "${sizes[@]}"; do
  echo "input of $size MiB (random bytes):"
  input="$bench/input.bin"
  head -c "$((size << 20))" /dev/urandom >"$input"
  baseline=0
  measure "baseline" sh -c "md5sum '$input' >/dev/null && cat '$input' >'$bench/copy'"
  baseline=$LAST_SECONDS
  rm -f "$bench/copy"
  measure "pack --raw" "$sfxpack" pack -q --stub "$bench/stub.exe" --key "$key" --allow-other-key \
    --main "$bench/main.exe" --cmdline /q --raw "input.bin=$input" -o "$bench/raw.exe"
  measure "sign" "$sfxpack" sign -q --kind binary --key "$key" "$input" -o "$bench/signed.bin"
  rm -f "$bench/signed.bin"
  measure "verify" "$sfxpack" verify --key "$pub" "$bench/raw.exe"
  measure "list" "$sfxpack" list --key "$pub" "$bench/raw.exe"
  measure "extract" "$sfxpack" extract -q --key "$pub" "$bench/raw.exe" --to "$bench/out"
  rm -rf "$bench/out" "$bench/raw.exe"
  if [ "$compress" = 1 ]; then
    measure "pack --file" "$sfxpack" pack -q --stub "$bench/stub.exe" --key "$key" --allow-other-key \
      --main "$bench/main.exe" --cmdline /q --file "input.bin=$input" -o "$bench/packed.exe"
    measure "extract --decode" "$sfxpack" extract -q --decode --key "$pub" "$bench/packed.exe" --to "$bench/out"
    rm -rf "$bench/out" "$bench/packed.exe"
  fi
  rm -f "$input"
done
