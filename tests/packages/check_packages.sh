#!/usr/bin/env bash
# Checks dist/ against its SHA256SUMS, then unpacks each package into a
# temporary folder and makes media with the program it holds and its own
# setup.exe (the Windows one under wine64): the bytes must be those the build
# trees make. A CMake project builds media against the unpacked Linux
# packages. Wine runs in a display and prefix of the check's own, which are
# stopped at its end: no process it started is left running.
# Usage: tests/packages/check_packages.sh VERSION   (run by scripts/make-packages.sh)
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD version=$1
work=$(mktemp -d /tmp/setuppack-packages-XXXXXX)
wine_dir=$work/wine
wine_run() { WINE_RUN_DIR=$wine_dir scripts/wine-run.sh "$@"; }
stop_wine() { [ ! -d "$wine_dir" ] || wine_run --stop; }
trap 'stop_wine; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
has() { [ -f "$1" ] || fail "the package has no ${1#"$work"/}"; }

packages=$(cd dist && ls -- *.zip *.tar.gz *.deb | LC_ALL=C sort)
if (cd dist && sha256sum --strict --quiet -c SHA256SUMS); then
  [ "$(cut -c67- dist/SHA256SUMS | LC_ALL=C sort)" = "$packages" ] &&
    echo "ok: SHA256SUMS matches every package" || fail "SHA256SUMS does not list exactly the packages"
else
  fail "sha256sum -c SHA256SUMS failed"
fi

# A 32-bit Windows program of some size: setup.exe with text after its image.
script=$work/INSTALL.SCR installer=$work/INSTALL.EXE
cp /usr/share/common-licenses/GPL-3 "$script"
cat build/win32/launcher/setup.exe /usr/share/common-licenses/GPL-3 "$root/build/host/pack/setuppack" >"$installer"
build/host/pack/setuppack media --script "$script" --installer "$installer" \
  --setup build/win32/launcher/setup.exe -o "$work/reference" >/dev/null || fail "the build tree made no media"

# media PROGRAM [RUNNER]: media made by the packaged program, with the
# setup.exe it finds beside itself, compared with the build tree's.
media() {
  local out=$work/media-$((++made))
  if "${@:2}" "$1" media --script "$script" --installer "$installer" -o "$out" >"$out.log" 2>&1 &&
    grep -q "installed with setuppack" "$out.log" && diff -r "$work/reference" "$out" >/dev/null; then
    echo "ok: $1 made the same media"
  else
    fail "$1 did not make the same media: $(cat "$out.log")"
  fi
}
made=0

tar -xzf "dist/setuppack-$version-linux-x86_64.tar.gz" -C "$work"
tree=$work/setuppack-$version-linux-x86_64
for f in bin/setuppack share/man/man1/setuppack.1 share/setuppack/setup.exe lib/cmake/setuppack/setuppackConfig.cmake; do
  has "$tree/$f"
done
media "$tree/bin/setuppack"
# Any x86-64 Linux runs it: it needs no shared library (or at most glibc
# 2.17's, and no libstdc++), and it makes the same media in a root that
# holds nothing but the package's files.
needs=$(objdump -p "$tree/bin/setuppack" | sed -n 's/^ *NEEDED *//p' | grep -vx 'lib[cm]\.so\.6\|libpthread\.so\.0\|libdl\.so\.2')
newest=$(objdump -T "$tree/bin/setuppack" 2>/dev/null | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
if [ -n "$needs" ] || objdump -T "$tree/bin/setuppack" 2>/dev/null | grep -q GLIBCXX ||
  [ "$(printf '%s\n' "${newest:-GLIBC_0}" GLIBC_2.17 | sort -V | tail -1)" != GLIBC_2.17 ]; then
  fail "the tar.gz's setuppack needs more than glibc 2.17: ${needs:-} ${newest:-}"
else
  echo "ok: the tar.gz's setuppack needs ${newest:-no shared library}"
fi
if unshare -r true 2>/dev/null; then
  mkdir -p "$work/root/in"
  cp -r "$tree/bin" "$tree/share" "$work/root/"
  cp "$script" "$installer" "$work/root/in/"
  if unshare -r chroot "$work/root" /bin/setuppack media --script /in/INSTALL.SCR --installer /in/INSTALL.EXE \
    -o /media >"$work/root.log" 2>&1 && diff -r "$work/reference" "$work/root/media" >/dev/null; then
    echo "ok: the tar.gz's setuppack made the same media in a root of its own files alone"
  else
    fail "the tar.gz's setuppack failed in a root of its own files: $(cat "$work/root.log")"
  fi
else
  echo "note: no user namespaces here: the tar.gz's setuppack was not run in a root of its own"
fi
tests/cmake_package/run_consumer.sh --prefix "$tree" || fail "a CMake project made no media with the tar.gz"

dpkg-deb -x "dist/setuppack_${version}_amd64.deb" "$work/deb"
for f in usr/bin/setuppack usr/share/man/man1/setuppack.1.gz usr/share/setuppack/setup.exe \
  usr/lib/cmake/setuppack/setuppackConfig.cmake usr/share/doc/setuppack/README.md \
  usr/share/doc/setuppack/docs/setuppack.md usr/share/doc/setuppack/copyright; do
  has "$work/deb/$f"
done
dpkg-deb --field "dist/setuppack_${version}_amd64.deb" Package Version | grep -q "Version: $version" ||
  fail "the Debian package has no version $version"
media "$work/deb/usr/bin/setuppack"

unzip -q "dist/setuppack-$version-windows-x64.zip" -d "$work"
win=$work/setuppack-$version-windows-x64
for f in setuppack.exe setup.exe README.txt setuppack.txt LICENSE cmake/setuppackConfig.cmake \
  cmake/setuppackSign.cmake; do has "$win/$f"; done
# The README is for Windows users, in Notepad's line ends.
grep -q "signtool sign" "$win/README.txt" && grep -q "setuppack $version for" "$win/README.txt" &&
  grep -q -- "--single-file" "$win/README.txt" &&
  ! grep -q "apt install\|Debian" "$win/README.txt" && ! grep -qv $'\r$' "$win/README.txt" || fail "README.txt is not the Windows users' README"
# The maintainer and home page the packages carry, none a placeholder.
bash tests/packages/check_metadata.sh "dist/setuppack_${version}_amd64.deb" "$win/README.txt" ||
  fail "the packages' maintainer or home page"
# Nothing to ship with it: every DLL it names is part of Windows.
dlls=$(x86_64-w64-mingw32-objdump -p "$win/setuppack.exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ "$dlls" = "$(printf 'kernel32.dll\nmsvcrt.dll')" ] || fail "setuppack.exe needs DLLs of its own: $dlls"
media "$win/setuppack.exe" wine_run --win64
# Its CMake package finds setuppack.exe and setup.exe beside its folder (the
# media themselves are made on Windows).
cmake -S tests/cmake_package/consumer -B "$work/zip-consumer" -Dsetuppack_DIR="$win/cmake" >"$work/zip.log" 2>&1 &&
  grep -qF -- "-- setup.exe of the media: $win/setup.exe" "$work/zip.log" ||
  fail "the zip's CMake package was not found: $(tail -5 "$work/zip.log")"

# Nothing the check started may outlive it: Wine's processes and Xvfb carry
# its WINE_RUN_DIR.
stop_wine
for _ in $(seq 100); do  # the wineserver's clients end once it has gone
  left=$(grep -lsaF "WINE_RUN_DIR=$wine_dir" /proc/[0-9]*/environ)
  [ -z "$left" ] && break
  sleep 0.1
done
[ -z "$left" ] && echo "ok: no process of the check is left" ||
  fail "processes left running: $(for p in $left; do p=${p#/proc/}; tr '\0' ' ' <"/proc/${p%/environ}/cmdline"; echo; done)"

echo "packages: $failures failures"
[ $failures -eq 0 ]
