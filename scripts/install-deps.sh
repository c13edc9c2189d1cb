#!/usr/bin/env bash
# Installs every package the build, the tests and the main job need on a fresh
# Debian 12 machine. Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev llvm-14 clang-format-14
  googletest libgtest-dev zlib1g-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine64-preloader wine32:i386 wine32-preloader:i386 libwine:i386 fonts-wine qemu-user-static
  xvfb xdotool x11-utils imagemagick
  gzip xz-utils python3 python3-pefile locales
  man-db groff-base
  zip unzip dpkg-dev lintian
  openssl osslsigncode
  genisoimage
  nsis
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
