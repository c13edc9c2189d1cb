#!/usr/bin/env bash
# Builds the consumer project (consumer/) against an installed setuppack and
# checks that its media are those `setuppack media` makes by hand, and that
# they are made again when the script changes, and only then.
# Usage: run_consumer.sh --install HOST_BUILD_DIR   (cmake --install into a temporary prefix)
#        run_consumer.sh --prefix PREFIX            (an unpacked package)
# Exits 77 (skipped) when the prefix holds no setup.exe.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/setuppack-consumer-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

case "${1:-}" in
  --install)
    prefix=$work/prefix
    cmake --install "$2" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install $2"; exit 1; } ;;
  --prefix) prefix=$2 ;;
  *) echo "usage: $0 --install HOST_BUILD_DIR | --prefix PREFIX" >&2; exit 2 ;;
esac
setuppack=$prefix/bin/setuppack
if [ ! -f "$prefix/share/setuppack/setup.exe" ]; then
  echo "skipped: $prefix has no share/setuppack/setup.exe (configure the host build with SETUPPACK_SETUP_EXE)"
  exit 77
fi
single=OFF
"$setuppack" --help | grep -q -- --single-file && single=ON
branding=OFF
"$setuppack" --help | grep -q -- --product-name && branding=ON

cp -r "$here/consumer" "$work/src"
python3 "$here/../win/branding/make_branding_data.py" "$work/src" || { echo "FAIL: the icon"; exit 1; }
build() {
  cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the build failed"; }
}
cmake -S "$work/src" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" -DWITH_SINGLE_FILE=$single -DWITH_BRANDING=$branding \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; echo "FAIL: configure"; exit 1; }

# by_hand NAME OPTIONS...: media of the script and the built installer, by hand.
by_hand() {
  local out=$work/hand-$1
  rm -rf "$out$2"
  "$setuppack" media --script "$work/src/INSTALL.SCR" "${@:3}" -o "$out$2" >/dev/null 2>&1 ||
    fail "setuppack media $* failed"
}
compare() {  # what the build made, by hand
  diff -r "$1" "$2" >/dev/null && echo "ok: $1 is what setuppack media makes" || fail "$1 differs from $2"
}
check_all() {
  by_hand cd "" --installer "$work/build/installer"
  compare "$work/build/cd" "$work/hand-cd"
  by_hand unsealed "" --installer "$work/src/installer.c" --no-seal
  compare "$work/build/out/unsealed" "$work/hand-unsealed"
  if [ $single = ON ]; then
    by_hand single .exe --installer "$work/build/installer" --single-file
    compare "$work/build/single.exe" "$work/hand-single.exe"
  fi
  if [ $branding = ON ]; then
    by_hand branded .exe --installer "$work/build/installer" --single-file --product-name "Consumer Tool" \
      --product-version 3.1 --company "Consumer GmbH" --copyright "© 2026 Consumer GmbH" \
      --icon "$work/src/vendor.ico" --strings "$work/src/de.txt"
    compare "$work/build/branded.exe" "$work/hand-branded.exe"
    "$setuppack" test "$work/build/branded.exe" | grep -q 'ProductName: Consumer Tool' ||
      fail "setuppack test does not show the branded program's version fields"
  fi
}

build
grep -q "making the media cd" "$work/build.log" || fail "the first build made no media"
check_all
build
grep -q "making the media" "$work/build.log" && fail "a build with nothing changed made the media again"
printf 'Title=Consumer 2\r\n' >>"$work/src/INSTALL.SCR"
build
grep -q "making the media unsealed" "$work/build.log" || fail "a changed script did not make the media again"
check_all
[ $single = ON ] || echo "note: this setuppack has no --single-file; SINGLE_FILE not tried"
[ $branding = ON ] || echo "note: this setuppack has no --product-name; the branded download not tried"
if [ $branding = ON ]; then
  # A changed strings file makes the branded download again.
  printf '3=Fehler in der Datei %%s.\n' >>"$work/src/de.txt"
  build
  grep -q "making the media branded" "$work/build.log" || fail "a changed strings file did not make the media again"
fi
echo "consumer: $failures failures"
[ $failures -eq 0 ]
