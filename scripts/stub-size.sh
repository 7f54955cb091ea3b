#!/usr/bin/env bash
# Where the bytes of the stub go: for each Windows build folder, the stub's size, its sections,
# and per section the input files (objects and library members) that fill it, from the link map
# the stub's link writes (<build>/stub/sfxstub/main/<name>.map).
#
# usage: scripts/stub-size.sh [BUILD_DIR ...] [-n N]   (default: build/win32 build/win64; the
#        N largest contributors per section, default 8)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
top=8
dirs=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) top=${2:?-n needs a number}; shift 2 ;;
    *) dirs+=("$1"); shift ;;
  esac
done
[ "${#dirs[@]}" -gt 0 ] || dirs=("$root/build/win32" "$root/build/win64")

for dir in "${dirs[@]}"; do
  exe=$(find "$dir/sfxstub/main" -maxdepth 1 -name 'sfxstub*.exe' 2>/dev/null | sort | head -n 1)
  [ -n "$exe" ] || { echo "stub-size: no stub in $dir/sfxstub/main (build it first)" >&2; exit 2; }
  name=$(basename "$exe" .exe)
  map=$dir/stub/sfxstub/main/$name.map
  [ -f "$map" ] || map=$dir/sfxstub/main/$name.map
  echo "== $exe: $(stat -c %s "$exe") bytes"
  # objdump -h: name, size (hex); the classes of the issue's breakdown.
  objdump -h "$exe" | awk '
    function hex(h,  i, v) { v = 0; h = tolower(h)
      for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1
      return v }
    /^ +[0-9]+ / { s = hex($3); printf "   %-8s %7d\n", $2, s
      if ($2 == ".text") code += s; else if ($2 == ".rdata") ro += s
      else if ($2 ~ /^\.(pdata|xdata|eh_fram)/) unwind += s; else if ($2 == ".rsrc") rsrc += s
      else other += s }
    END { printf "   code %d, read-only data %d, unwind data %d, resources %d, other %d\n",
                 code, ro, unwind, rsrc, other }'
  [ -f "$map" ] || { echo "   (no link map at $map)"; continue; }
  echo "   the largest contributors, from $map:"
  # Map lines: an output section starts in column 0 (".text  0xADDR  0xSIZE"); an input section
  # is " .name  0xADDR  0xSIZE  FILE", or " .name" with the numbers on the next line.
  awk -v top="$top" '
    function hex(h,  i, v) { v = 0; h = tolower(h); sub(/^0x/, "", h)
      for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1
      return v }
    function add(size, file,  lib) { if (out == "" || out ~ /^\.debug/ || size == 0) return
      sub(/.*\//, "", file)
      # an import library counts as one: libkernel32.a(libkernel32s00604.o) is libkernel32.a
      lib = file; sub(/\.a\(.*/, "", lib)
      if (index(file, lib ".a(" lib) == 1) file = lib ".a (imports)"
      if (file == "dll") file = "(made by the linker)"
      total[out] += size; by[out SUBSEP file] += size
      if (!((out) in seen)) { seen[out] = 1; order[++n] = out } }
    /^Linker script and memory map/ { inmap = 1; next }
    !inmap { next }
    /^\.[^ ]+/ { out = $1; pending = 0; next }
    /^\/DISCARD\// { out = ""; next }
    /^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]/ { add(hex($3), $4); pending = 0; next }
    /^ \.[^ ]+$/ { pending = 1; next }
    pending && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]/ { add(hex($2), $3); pending = 0; next }
    { pending = 0 }
    END {
      for (i = 1; i <= n; i++) {
        s = order[i]; printf "   %s: %d\n", s, total[s]
        # the top contributors, largest first (a selection sort: the lists are short)
        m = 0; for (k in by) { split(k, part, SUBSEP); if (part[1] == s) { m++; f[m] = part[2]; v[m] = by[k] } }
        for (j = 1; j <= m && j <= top; j++) {
          best = j; for (k = j + 1; k <= m; k++) if (v[k] > v[best]) best = k
          t = v[j]; v[j] = v[best]; v[best] = t; t = f[j]; f[j] = f[best]; f[best] = t
          printf "      %7d  %s\n", v[j], f[j]
        }
      }
    }' "$map"
done
