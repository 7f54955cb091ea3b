# shellcheck shell=bash
# Sourced by the scripts: can this host execute 32-bit x86 programs? Some x86-64 kernels run
# 64-bit user code only; there every i386 program (wine32, wineserver32) fails with "Exec format
# error". The answer comes from running one, the 32-bit Wine loader, never from the kernel's
# version. SFXSTUB_I386_PROBE names another program to run instead (for example /bin/false, to
# see how the scripts behave on a host without 32-bit execution).
#
#   host_runs_i386   succeeds when the probe ran; otherwise fails and sets I386_REASON.
# shellcheck disable=SC2034  # I386_REASON is the sourcing script's to print
host_runs_i386() {
  local probe=${SFXSTUB_I386_PROBE:-/usr/lib/wine/wine} out status=0
  I386_REASON=""
  if [ ! -e "$probe" ]; then
    I386_REASON="$probe is missing (is wine32 installed?)"
    return 1
  fi
  out=$("$probe" --version 2>&1) || status=$?
  [ "$status" = 0 ] && return 0
  out=$(printf '%s\n' "$out" | head -n 1 | cut -c1-160)
  I386_REASON="this host cannot execute 32-bit programs: '$probe --version' exited with $status${out:+ ($out)}"
  return 1
}
