# shellcheck shell=bash
# What the scripts that run packages under Wine share; sourced by tests/wine/*.sh,
# scripts/demo.sh and scripts/soak.sh.

# winpath PATH: PATH as Wine's programs see it (drive Z: is the Unix root).
winpath() { echo "Z:${1//\//\\}"; }

# strip_cr FILE: removes the carriage returns that Windows programs end their lines with.
strip_cr() { tr -d '\r' <"$1" >"$1.cr" && mv "$1.cr" "$1"; }

# report_text NUMBER PHASE: the stub's error report for NUMBER after PHASE, as sfxrun escapes it
# (a newline as \n).
report_text() {
  printf 'An error %d (%08X) has occured.\\nLast performed operation was:\\n%s\\n\\n' \
    "$1" "$(( $1 & 0xFFFFFFFF ))" "$2"
}
# The text of phase 0, opening the package, with the advice the report gives after it.
# shellcheck disable=SC2034  # read by the scripts that source this file
phase0_text='opening the self-extract archive\n\nTry to download setup file again.\nIf you use Internet Explorer, clear it'"'"'s cache before downloading:\nStart->Control Panel->Internet Options and Delete Temporary Internet Files.'

# working_folders_in FOLDER: succeeds when the stub left a working folder in FOLDER.
working_folders_in() { compgen -G "$1/_tr_sfx.tm~*" >/dev/null; }

# fail MESSAGE: ends an end-to-end test: "FAIL [NAME]: MESSAGE", then what sfxrun and the setup
# program said (the out*, probe* and report* files in the work folder), which is kept. The script
# sets e2e_name and work.
# shellcheck disable=SC2154  # e2e_name and work are the sourcing script's
fail() {
  echo "FAIL [$e2e_name]: $*" >&2
  local f
  for f in "$work"/out*.txt "$work"/probe*.txt "$work"/report*.txt; do
    [ -f "$f" ] && { echo "--- $f:" >&2; cat "$f" >&2; }
  done
  echo "(work folder kept: $work)" >&2
  exit 1
}
