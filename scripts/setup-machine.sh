#!/usr/bin/env bash
# Installs what building and testing sfxstub needs on a Debian (bookworm) machine, and cross-builds
# Crypto++ for i686- and x86_64-w64-mingw32 from Debian's own source package. Idempotent: what is there is reused.
# The Crypto++ cross build is cached outside the clone, keyed by the source package's version.
set -euo pipefail

log() { printf '[setup] %s\n' "$*"; }

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

PKGS=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libcrypto++-dev zlib1g-dev
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 wine32:i386 xvfb xauth x11-apps dpkg-dev
      openssl osslsigncode imagemagick time pev)

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
SRC_LIST=/etc/apt/sources.list.d/sfxstub-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  log "enabling Debian source packages (for the Crypto++ cross build)"
  $SUDO tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
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

# --- Crypto++ for the two Windows targets, built once per machine, target and version ------------
CACHE_ROOT="${SFXSTUB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/sfxstub}"
CRYPTOPP_VERSION=$(dpkg-query -W -f='${source:Version}' libcrypto++-dev)
work=""
trap '[ -z "$work" ] || rm -rf "$work"' EXIT

# cross_build_cryptopp TRIPLET PATHFILE: the posix thread model of the cross compiler, like the
# Windows builds themselves; only the static library, assembler-free so the build does not depend
# on the host's tools.
cross_build_cryptopp() {
  local triplet=$1 pathfile=$2
  local prefix="$CACHE_ROOT/cryptopp-$triplet-posix-$CRYPTOPP_VERSION"
  # The 32-bit build was cached under this name before there were two targets.
  [ "$triplet" = i686-w64-mingw32 ] && prefix="$CACHE_ROOT/cryptopp-mingw32-posix-$CRYPTOPP_VERSION"
  if [ -f "$prefix/lib/libcryptopp.a" ]; then
    log "Crypto++ for $triplet cached: $prefix"
  else
    log "cross-building Crypto++ $CRYPTOPP_VERSION for $triplet (about 2 minutes)"
    work=$(mktemp -d)
    (cd "$work" && apt-get source -qq "libcrypto++=$CRYPTOPP_VERSION" >/dev/null 2>&1 || \
       (cd "$work" && apt-get source -qq libcrypto++ >/dev/null))
    local src
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d | head -n 1)
    make -C "$src" -f GNUmakefile-cross -j"$(nproc)" static \
      CXX="$triplet-g++-posix" AR="$triplet-ar" RANLIB="$triplet-ranlib" \
      CXXFLAGS="-DNDEBUG -O2 -ffunction-sections -fdata-sections -DCRYPTOPP_DISABLE_ASM" >"$work/build.log" 2>&1 \
      || { tail -n 40 "$work/build.log"; exit 1; }
    mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include/cryptopp"
    cp "$src/libcryptopp.a" "$prefix.tmp/lib/"
    cp "$src"/*.h "$prefix.tmp/include/cryptopp/"
    rm -rf "$prefix" && mv "$prefix.tmp" "$prefix"
    rm -rf "$work"; work=""
    log "Crypto++ for $triplet ready: $prefix"
  fi
  echo "$prefix" > "$CACHE_ROOT/$pathfile"
}

mkdir -p "$CACHE_ROOT"
cross_build_cryptopp i686-w64-mingw32 cryptopp-mingw32.path
cross_build_cryptopp x86_64-w64-mingw32 cryptopp-mingw64.path
