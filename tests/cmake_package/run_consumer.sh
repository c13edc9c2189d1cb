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
# (all of --help read: grep -q would end the pipe early)
"$setuppack" --help | grep -c -- --single-file >/dev/null && single=ON

# A throwaway certificate to sign with (when osslsigncode is there).
sign=
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=setuppack consumer test" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
      -passout pass:throwaway || { echo "FAIL: no throwaway certificate"; exit 1; }
  sign=$work/cert.pfx
fi
branding=OFF
"$setuppack" --help | grep -c -- --product-name >/dev/null && branding=ON

cp -r "$here/consumer" "$work/src"
python3 "$here/../win/branding/make_branding_data.py" "$work/src" || { echo "FAIL: the icon"; exit 1; }
build() {
  cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the build failed"; }
}
cmake -S "$work/src" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" -DWITH_SINGLE_FILE=$single -DSIGN_PFX="$sign" -DWITH_BRANDING=$branding \
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
  local setup=$prefix/share/setuppack/setup.exe
  by_hand tuned "" --installer "$setup" --setup "$setup" --strict -T 2 --best
  compare "$work/build/tuned" "$work/hand-tuned"
  [ -z "$sign" ] || check_signed
  if [ $branding = ON ]; then
    by_hand branded .exe --installer "$work/build/installer" --single-file --product-name "Consumer Tool" \
      --product-version 3.1 --company "Consumer GmbH" --copyright "© 2026 Consumer GmbH" \
      --icon "$work/src/vendor.ico" --strings "$work/src/de.txt"
    compare "$work/build/branded.exe" "$work/hand-branded.exe"
    "$setuppack" test "$work/build/branded.exe" | grep -c 'ProductName: Consumer Tool' >/dev/null ||
      fail "setuppack test does not show the branded program's version fields"
  fi
}
# signed: the sealed setup.exe and the single program carry a signature of
# the throwaway certificate, and still test whole.
check_signed() {
  local programs=("$work/build/signed/setup.exe") program
  [ $single = OFF ] || programs+=("$work/build/signed_single.exe")
  for program in "${programs[@]}"; do
    if osslsigncode verify -CAfile "$work/cert.pem" -in "$program" >"$work/verify.log" 2>&1 &&
      "$setuppack" test "${program%/setup.exe}" >"$work/test.log" 2>&1; then
      echo "ok: $program is signed and tests whole"
    else
      fail "$program: $(tail -3 "$work/verify.log") $(cat "$work/test.log")"
    fi
  done
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
# A signing that fails removes what it was to sign: the next build makes it again.
printf 'made' >"$work/made.exe"
if cmake "-DFILE=$work/made.exe" -P "$(find "$prefix" -name setuppackSign.cmake)" -- false \
  >/dev/null 2>&1 || [ -e "$work/made.exe" ]; then
  fail "a failed SIGN_COMMAND left its file"
else
  echo "ok: a failed SIGN_COMMAND removes its file"
fi
[ $single = ON ] || echo "note: this setuppack has no --single-file; SINGLE_FILE not tried"
[ -n "$sign" ] || echo "note: no osslsigncode; SIGN_COMMAND not tried"
[ $branding = ON ] || echo "note: this setuppack has no --product-name; the branded download not tried"
if [ $branding = ON ]; then
  # A changed strings file makes the branded download again.
  printf '3=Fehler in der Datei %%s.\n' >>"$work/src/de.txt"
  build
  grep -q "making the media branded" "$work/build.log" || fail "a changed strings file did not make the media again"
fi
echo "consumer: $failures failures"
[ $failures -eq 0 ]
