#!/usr/bin/env bash
# Configures and builds the three build folders (idempotent, reuses what is there):
#   build/native  Linux x86-64: portable core, sfxpack, sfxgen, unit tests
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/win32   i686-w64-mingw32: sfxstub.exe, Windows-side and end-to-end tests (under Wine)
# Usage: scripts/build.sh [native|asan|win32 ...]   (default: all three)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(native asan win32)

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$root/build/$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

for t in "${targets[@]}"; do
  case "$t" in
    native) configure native ;;
    asan)   configure asan -DSFXSTUB_SANITIZE=ON ;;
    win32)  configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
                            -DSFXSTUB_NATIVE_BUILD="$root/build/native" -DCMAKE_BUILD_TYPE=MinSizeRel ;;
    *) echo "unknown build: $t" >&2; exit 2 ;;
  esac
  echo "[build] $t"
  cmake --build "$root/build/$t" -j"$jobs" 2>&1 | grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Built target)' || true
  test "${PIPESTATUS[0]}" = 0
done
