#!/usr/bin/env bash
# Installs what building and testing sfxstub needs on a Debian (bookworm) machine, from Debian's
# packages only: nothing is built from source here (the Windows builds need no third-party
# library of their own). Idempotent: what is installed is reused, and apt runs only when a
# package is missing.
set -euo pipefail

log() { printf '[setup] %s\n' "$*"; }

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

PKGS=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libcrypto++-dev zlib1g-dev
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 wine32:i386 xvfb xauth x11-apps dpkg-dev
      openssl osslsigncode imagemagick time shellcheck pev lintian)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "enabling the i386 architecture (for wine32)"
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  log "apt-get update"
  $SUDO apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
log "ready"
