#!/usr/bin/env bash
# Unpacks each package of dist/ into a temporary folder and makes media with
# the program it holds and its own setup.exe (the Windows one under wine64):
# the bytes must be those the build trees make.
# Usage: tests/packages/check_packages.sh VERSION   (run by scripts/make-packages.sh)
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD version=$1
work=$(mktemp -d /tmp/setuppack-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
has() { [ -f "$1" ] || fail "the package has no ${1#"$work"/}"; }

script=$work/INSTALL.SCR installer=$work/INSTALL.EXE
cp /usr/share/common-licenses/GPL-3 "$script"
cp "$root/build/host/pack/setuppack" "$installer"  # a real program of some size
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
for f in bin/setuppack share/man/man1/setuppack.1 share/setuppack/setup.exe; do has "$tree/$f"; done
media "$tree/bin/setuppack"

dpkg-deb -x "dist/setuppack_${version}_amd64.deb" "$work/deb"
for f in usr/bin/setuppack usr/share/man/man1/setuppack.1.gz usr/share/setuppack/setup.exe; do has "$work/deb/$f"; done
dpkg-deb --field "dist/setuppack_${version}_amd64.deb" Package Version | grep -q "Version: $version" ||
  fail "the Debian package has no version $version"
media "$work/deb/usr/bin/setuppack"

unzip -q "dist/setuppack-$version-windows-x64.zip" -d "$work"
win=$work/setuppack-$version-windows-x64
for f in setuppack.exe setup.exe README.md setuppack.txt LICENSE; do has "$win/$f"; done
# Nothing to ship with it: every DLL it names is part of Windows.
dlls=$(x86_64-w64-mingw32-objdump -p "$win/setuppack.exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ "$dlls" = "$(printf 'kernel32.dll\nmsvcrt.dll')" ] || fail "setuppack.exe needs DLLs of its own: $dlls"
media "$win/setuppack.exe" scripts/wine-run.sh --win64

echo "packages: $failures failures"
[ $failures -eq 0 ]
