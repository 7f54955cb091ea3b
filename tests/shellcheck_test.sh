#!/usr/bin/env bash
# Every shell script of the tree passes shellcheck (with the tree's .shellcheckrc): the files
# ending in .sh and every other file that starts with a shell's #! line, outside build folders.
# usage: shellcheck_test.sh SOURCE_DIR     (exit 77: shellcheck is not installed, skipped)
set -euo pipefail
src=${1:?source folder}
command -v shellcheck >/dev/null || { echo "skipped: shellcheck is not installed"; exit 77; }
cd "$src"
scripts=()
while IFS= read -r -d '' file; do
  case "$file" in
    *.sh) scripts+=("$file") ;;
    *) if head -n 1 "$file" | grep -qE '^#!.*\b(ba)?sh\b'; then scripts+=("$file"); fi ;;
  esac
done < <(find . \( -path ./build -o -path ./.git \) -prune -o -type f -print0)
echo "shellcheck on ${#scripts[@]} scripts"
shellcheck "${scripts[@]}"
echo "clean"
