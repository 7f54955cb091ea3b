#!/usr/bin/env bash
# Configures and builds the build folders (idempotent, reuses what is there):
#   build/native  Linux x86-64: portable core, sfxpack, sfxgen, unit tests
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/win32   i686-w64-mingw32: sfxstub.exe, Windows-side and end-to-end tests (under Wine)
#   build/win64   x86_64-w64-mingw32: sfxstub64.exe and the same tests (under 64-bit Wine)
# The Windows trees take sfxgen and sfxpack from build/native (and their tests the signatures the
# native tests make): build it first.
# Usage: scripts/build.sh [TREE[:TARGET,...] ...]   TREE: native, asan, win32 or win64 (default:
#        all four, each whole); with TARGETs only those are built in that tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(native asan win32 win64)

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$root/build/$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

for spec in "${targets[@]}"; do
  t=${spec%%:*}
  only=()
  if [ "$spec" != "$t" ]; then
    IFS=, read -r -a names <<<"${spec#*:}"
    for name in "${names[@]}"; do only+=(--target "$name"); done
  fi
  case "$t" in
    native) configure native ;;
    asan)   configure asan -DSFXSTUB_SANITIZE=ON ;;
    win32)  configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
                            -DSFXSTUB_NATIVE_BUILD="$root/build/native" -DCMAKE_BUILD_TYPE=MinSizeRel ;;
    win64)  configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
                            -DSFXSTUB_NATIVE_BUILD="$root/build/native" -DCMAKE_BUILD_TYPE=MinSizeRel ;;
    *) echo "unknown build: $t" >&2; exit 2 ;;
  esac
  echo "[build] $spec"
  # The build's own status decides (the filter's does not: it finds nothing in a quiet build).
  status=0
  cmake --build "$root/build/$t" "${only[@]}" -j"$jobs" >"$root/build/$t.log" 2>&1 || status=$?
  grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Built target|-- )' "$root/build/$t.log" || true
  [ "$status" = 0 ] || { echo "[build] $t failed (exit $status)" >&2; exit "$status"; }
done
