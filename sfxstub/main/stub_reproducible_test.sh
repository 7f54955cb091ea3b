#!/usr/bin/env bash
# Builds the stub once more from scratch in another folder, this time with SFXSTUB_SIGNER_KEY=KEY,
# and compares it with the build's own generic stub: the same source and toolchain must give the
# same generic stub byte for byte, whatever the build folder (no time stamp, no build path
# inside), and the stub the build stamped with KEY must be the file `sfxpack stub --key KEY`
# makes of the generic one.
#
# usage: stub_reproducible_test.sh CMAKE SOURCE_DIR WORK_DIR NAME GENERIC_STUB SFXPACK KEY CMAKE_ARGS...
# Only the stub's target is built, with at most two jobs. WORK_DIR is removed first, and again
# when the files agree.
set -euo pipefail
cmake=${1:?cmake} source=${2:?source} work=${3:?work} name=${4:?name} stub=${5:?stub}
sfxpack=${6:?sfxpack} key=${7:?key}
shift 7

[ -f "$stub" ] || { echo "no stub at $stub: build the tree first" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
# A folder path of another length than the build's own, so that any build path left inside
# would also move what follows it.
dir="$work/another-build-folder"
"$cmake" -S "$source" -B "$dir" "$@" "-DSFXSTUB_SIGNER_KEY=$key" >"$work/configure.log" 2>&1 \
  || { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$dir" --target sfxstub --parallel 2 >"$work/build.log" 2>&1 \
  || { tail -n 50 "$work/build.log"; exit 1; }
"$sfxpack" stub --key "$key" --stub "$stub" -o "$work/stamped.exe" >/dev/null 2>"$work/stamp.log" \
  || { cat "$work/stamp.log"; exit 1; }
# same A B WHAT: A and B must be the same file.
same() {
  cmp "$1" "$2" >/dev/null && return 0
  echo "$3: $1 and $2 differ:"
  cmp -l "$1" "$2" | head -n 20
  echo "(second build kept in $dir)"
  exit 1
}
same "$stub" "$dir/sfxstub/main/generic/$name.exe" "the generic stub"
same "$work/stamped.exe" "$dir/sfxstub/main/$name.exe" "stamped by sfxpack and by the build"
cmp -s "$stub" "$work/stamped.exe" && { echo "the stamped stub is the generic one" >&2; exit 1; }
echo "$(stat -c %s "$stub") bytes, the same in both builds; stamped with the key at build and pack time, the same"
rm -rf "$work"
