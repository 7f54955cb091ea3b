#!/usr/bin/env bash
# Compares the functions a Windows program imports with a reviewed list, so that a new import
# (which may not exist on the oldest Windows the stub runs on) shows up in review.
#
# usage: stub_imports_test.sh OBJDUMP PROGRAM LIST
# LIST holds one "DLL function" pair a line (DLL names in lower case; an import by ordinal is
# written "#17"); everything after the second field and lines starting with '#' are notes.
set -euo pipefail
objdump=${1:?objdump} program=${2:?program} list=${3:?list}

# objdump -p prints each DLL as "DLL Name: X" followed by its entries, one a line:
#   "<vma> <hint> <name>", or "<vma> <ordinal> <none>" (with "(ordinal)" in some versions) for an
# import by ordinal; the table of a DLL ends with a blank line.
actual=$("$objdump" -p "$program" | awk '
  /^[ \t]*DLL Name:/ { dll = tolower($3); inTable = 1; next }
  inTable && /^[ \t]*$/ { inTable = 0; next }
  inTable && /^[ \t]*vma:/ { next }
  inTable && NF >= 3 && $1 ~ /^[0-9a-fA-F]+$/ {
    if ($3 == "<none>") print dll, "#" ($2 + 0); else print dll, $3
  }' | LC_ALL=C sort -u)
[ -n "$actual" ] || { echo "no imports found in $program: is it a PE file?" >&2; exit 1; }
expected=$(grep -v '^[[:space:]]*\(#\|$\)' "$list" | awk '{ print tolower($1), $2 }' | LC_ALL=C sort -u)

if [ "$actual" != "$expected" ]; then
  echo "The imports of $program differ from $list"
  echo "(+ imported but not listed, - listed but not imported):"
  diff <(echo "$expected") <(echo "$actual") | sed -n 's/^> /+ /p; s/^< /- /p'
  echo "A new import must exist on every Windows the stub runs on: check its first version and"
  echo "add it to the list with that version and where it was found."
  exit 1
fi
echo "$(echo "$actual" | wc -l) imports, as listed in $(basename "$list")"
