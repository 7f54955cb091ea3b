#!/usr/bin/env bash
# Builds the stub once more from scratch in another folder and compares it with the build's own
# stub: the same source, key and toolchain must give the same file byte for byte, whatever the
# build folder (no time stamp, no build path inside).
#
# usage: stub_reproducible_test.sh CMAKE SOURCE_DIR WORK_DIR NAME STUB CMAKE_ARGS...
# Only the stub's target is built, with at most two jobs. WORK_DIR is removed first, and again
# when the files agree.
set -euo pipefail
cmake=${1:?cmake} source=${2:?source} work=${3:?work} name=${4:?name} stub=${5:?stub}
shift 5

[ -f "$stub" ] || { echo "no stub at $stub: build the tree first" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
# A folder path of another length than the build's own, so that any build path left inside
# would also move what follows it.
dir="$work/another-build-folder"
"$cmake" -S "$source" -B "$dir" "$@" >"$work/configure.log" 2>&1 \
  || { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$dir" --target sfxstub --parallel 2 >"$work/build.log" 2>&1 \
  || { tail -n 50 "$work/build.log"; exit 1; }
second="$dir/sfxstub/main/$name.exe"
if ! cmp "$stub" "$second"; then
  echo "$stub and $second differ:"
  cmp -l "$stub" "$second" | head -n 20
  echo "(second build kept in $dir)"
  exit 1
fi
echo "$(stat -c %s "$stub") bytes, the same in both builds"
rm -rf "$work"
