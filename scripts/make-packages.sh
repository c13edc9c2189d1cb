#!/usr/bin/env bash
# Makes the release packages into dist/, with their SHA256SUMS, then checks
# that each one makes media (tests/packages/check_packages.sh):
#   setuppack-VERSION-windows-x64.zip    setuppack.exe, setup.exe, README.txt (for Windows users),
#                                        setuppack.txt (the manual), LICENSE, cmake/ (the CMake package)
#   setuppack-VERSION-linux-x86_64.tar.gz  bin/setuppack, share/man/man1/setuppack.1, share/setuppack/setup.exe,
#                                          share/doc/setuppack/ (README.md and docs/),
#                                          lib/cmake/setuppack/
#   setuppack_VERSION_amd64.deb          /usr/bin/setuppack, its manual, /usr/share/setuppack/setup.exe,
#                                        /usr/share/doc/setuppack/ (README.md and docs/),
#                                        /usr/lib/cmake/setuppack/
# It builds what they hold first: setup.exe (win32), setuppack (host, and
# build/host-static for the tar.gz) and setuppack.exe (win64). Files carry the time of the last commit, so that the
# same tree makes the same packages.
#
# Whoever publishes the packages names themselves here, and nowhere else:
#   --maintainer 'NAME <EMAIL>'  the .deb's Maintainer and changelog signer
#                                (default: $DEBFULLNAME <$DEBEMAIL>, as dch
#                                takes them, else git's user.name and user.email)
#   --homepage URL               the .deb's Homepage and README.txt's last line
#                                (default: none, and then neither mentions one)
# Usage: scripts/make-packages.sh [--maintainer 'NAME <EMAIL>'] [--homepage URL]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

maintainer= homepage=
while [ $# -gt 0 ]; do
  case $1 in
    --maintainer) maintainer=${2:?--maintainer needs 'NAME <EMAIL>'}; shift 2 ;;
    --homepage) homepage=${2:?--homepage needs a URL}; shift 2 ;;
    *) echo "usage: $0 [--maintainer 'NAME <EMAIL>'] [--homepage URL]" >&2; exit 2 ;;
  esac
done
if [ -z "$maintainer" ] && [ -n "${DEBEMAIL:-}" ]; then
  maintainer="${DEBFULLNAME:-setuppack} <$DEBEMAIL>"
fi
if [ -z "$maintainer" ]; then
  maintainer="$(git config user.name 2>/dev/null || true) <$(git config user.email 2>/dev/null || true)>"
fi
name_and_address='^[^<>]+ <[^@<> ]+@[^@<> ]+>$'
if ! [[ $maintainer =~ $name_and_address ]]; then
  echo "make-packages: the maintainer '$maintainer' is not 'NAME <EMAIL>': give --maintainer" >&2
  exit 2
fi
echo "make-packages: maintainer $maintainer, home page ${homepage:-none}"
bash scripts/install-deps.sh

version=$(sed -n 's/^project(SetupBootstrapper VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
setup_exe=$root/build/win32/launcher/setup.exe
echo "make-packages: setuppack $version"

cmake --preset win32 >/dev/null
cmake --build build/win32 -j2 --target setup >/dev/null
cmake --preset host -DSETUPPACK_SETUP_EXE="$setup_exe" >/dev/null
cmake --build build/host -j2 --target setuppack >/dev/null
# The tar.gz's setuppack is linked statically: it needs no library of the
# machine it runs on, so any x86-64 Linux runs it. (The .deb's is the host
# build, linked to the system's libraries as Debian's own programs are.)
cmake --preset host -B build/host-static -DCMAKE_EXE_LINKER_FLAGS=-static \
  -DSETUPPACK_SETUP_EXE="$setup_exe" >/dev/null
cmake --build build/host-static -j2 --target setuppack >/dev/null
cmake --preset win64 >/dev/null
cmake --build build/win64 -j2 --target setuppack >/dev/null

rm -rf dist
mkdir -p dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
stamp() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# Windows: one folder, setup.exe beside setuppack.exe, where media finds it.
win=$stage/setuppack-$version-windows-x64
mkdir -p "$win"
x86_64-w64-mingw32-strip -o "$win/setuppack.exe" build/win64/pack/setuppack.exe
cp "$setup_exe" "$win/setup.exe"
cp LICENSE "$win/"
# Its lines that name the home page go when there is none.
if [ -n "$homepage" ]; then
  escaped=$(printf '%s' "$homepage" | sed 's/[&|\\]/\\&/g')  # as sed's replacement takes it
  sed "s/VERSION/$version/; s|@HOMEPAGE@|$escaped|; s/$/\r/" pack/README-windows.txt >"$win/README.txt"
else
  sed "s/VERSION/$version/; /@HOMEPAGE@/d; s/$/\r/" pack/README-windows.txt >"$win/README.txt"
fi
MANWIDTH=80 man -l pack/setuppack.1 2>/dev/null | col -bx | sed 's/$/\r/' >"$win/setuppack.txt"
# The CMake package, with the program and setup.exe beside the cmake folder.
mkdir "$win/cmake"
sed 's|@SETUPPACK_PROGRAM_FROM_CONFIG@|../setuppack.exe|; s|@SETUPPACK_SETUP_FROM_CONFIG@|../setup.exe|' \
  pack/cmake/setuppackConfig.cmake.in >"$win/cmake/setuppackConfig.cmake"
cp build/host/pack/setuppackConfigVersion.cmake pack/cmake/setuppackSign.cmake "$win/cmake/"
stamp "$win"
(cd "$stage" && find "${win##*/}" -type f | LC_ALL=C sort |
  zip -X -q -9 "$root/dist/setuppack-$version-windows-x64.zip" -@)

# README.md and what it links to (docs/), into a doc folder.
install_docs() {
  install -m 644 -D README.md "$1/README.md"
  install -m 644 -D -t "$1/docs" docs/*
}

# Linux: the host build's installation, under a prefix of its own.
tree=$stage/setuppack-$version-linux-x86_64
cmake --install build/host-static --prefix "$tree" --strip >/dev/null
install_docs "$tree/share/doc/setuppack"
install -m 644 -D LICENSE "$tree/share/doc/setuppack/LICENSE"
stamp "$tree"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
  -cf - "${tree##*/}" | gzip -n -9 >"dist/setuppack-$version-linux-x86_64.tar.gz"

# Debian: the same installation under /usr, with what Debian policy asks
# (copyright, changelog, compressed manual, dependencies found by dpkg-shlibdeps).
deb=$stage/deb
DESTDIR=$deb cmake --install build/host --prefix /usr --strip >/dev/null
gzip -n -9 "$deb/usr/share/man/man1/setuppack.1"
doc=$deb/usr/share/doc/setuppack
install_docs "$doc"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: setuppack"
  echo
  echo "Files: *"
  echo "Copyright: 2026 The setup bootstrapper developers"
  echo "License: Expat"
  sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
printf 'setuppack (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n' \
  "$version" "$version" "$maintainer" "$(date -u -R -d "@$SOURCE_DATE_EPOCH")" | gzip -n -9 >"$doc/changelog.gz"
mkdir -p "$stage/shlibs/debian" "$deb/DEBIAN"
printf 'Source: setuppack\n\nPackage: setuppack\nArchitecture: amd64\n' >"$stage/shlibs/debian/control"
depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/setuppack" | sed -n 's/^shlibs:Depends=//p')
cat >"$deb/DEBIAN/control" <<EOF
Package: setuppack
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$deb" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
${homepage:+Homepage: $homepage
}Description: makes the pack files of Windows installation media
 setuppack packs an installer and its script into the pack files that
 the small 32-bit setup.exe on installation media expands, copies that
 setup.exe beside them, and reads pack files back. The setup.exe it copies
 is installed with it.
EOF
(cd "$deb" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
chmod -R u=rwX,go=rX "$deb"
stamp "$deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "dist/setuppack_${version}_amd64.deb" >/dev/null
if command -v lintian >/dev/null; then
  # Errors fail the build; warnings are shown.
  lintian --fail-on error "dist/setuppack_${version}_amd64.deb"
fi

# The checksums to publish beside the packages, as sha256sum -c reads them.
(cd dist && sha256sum -- * >SHA256SUMS)

ls -l dist
bash tests/packages/check_packages.sh "$version"
