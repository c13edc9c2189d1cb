#!/usr/bin/env bash
# What only Windows has, for setuppack.exe under wine64: Unicode names, NUL,
# a file another program holds open, read-only and full destinations, long
# paths; and a corpus that it packs to the bytes the host build writes, and
# a branded single-file program (every option of media) of SETUP_EXE too.
# Usage: setuppack_exe_test.sh WINE_RUN SETUPPACK_EXE HOST_SETUPPACK HOLD_OPEN_EXE SETUP_EXE
set -uo pipefail
wine_run=$1 exe=$2 host=$3 hold=$4 setup=$5
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/setuppack-exe-XXXXXX)
trap 'umount "$work"/small "$work"/readonly 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
sp() { "$wine_run" --win64 --stdin "$exe" "$@"; }
# expect STATUS TEXT COMMAND...: the exit status, and TEXT in what it said.
expect() {
  local status=$1 text=$2 out
  shift 2
  out=$("$@" 2>&1)
  local rc=$?
  [ $rc -eq "$status" ] || fail "$* exited with $rc, not $status: $out"
  case $out in *"$text"*) ;; *) fail "$* did not say '$text': $out" ;; esac
}
no_partial() { ls -A "${1:-.}" | grep -q partial && fail "a temporary file was left in ${1:-.}"; }

wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
head -c 200000 "$wine_dlls/notepad.exe" >data
"$host" pack data data.pk >/dev/null

# Unicode names, in files and messages (UTF-8 into a pipe).
name='Установка データ.txt'
cp data "$name"
expect 0 "" sp pack "$name" 'パック.pk'
cmp -s data.pk 'パック.pk' || fail "the packed Unicode file differs"
expect 0 "" sp unpack 'パック.pk' 'Установка.out'
cmp -s data 'Установка.out' || fail "the unpacked Unicode file differs"
expect 1 "'$name' already exists; -f replaces it" sp unpack data.pk "$name"

# A console (Wine's, on a pseudo-terminal): messages through WriteConsoleW,
# Unicode names whole, and packed data not written to it without -f.
eval "$("$wine_run" --win64 --env)"
out=$(script -qec "$WINE_LOADER '$exe' unpack data.pk '$name'; $WINE_LOADER '$exe' pack data -" /dev/null)
case $out in *"'$name' already exists"*"packed data not written to a terminal"*) ;;
  *) fail "the console did not show both messages: $out" ;; esac

# NUL is written where it is, in any letter case; no file appears.
expect 0 "" sp unpack data.pk NUL
expect 0 "" sp pack -f data nul
[ -e NUL ] || [ -e nul ] && fail "NUL became a file"

# A file another program holds open without sharing: not read, not replaced.
cp data held
"$wine_run" --win64 "$hold" held mark &
holder=$!
for _ in $(seq 600); do [ -e mark ] && break; sleep 0.1; done
[ -e mark ] || fail "hold_open did not start"
expect 1 "setuppack: held: " sp pack held held.pk
expect 1 "setuppack: held: " sp unpack -f data.pk held
rm -f mark
wait $holder
[ -e held.pk ] && fail "a pack file of the held file was written"
cmp -s data held || fail "the held file changed"
no_partial

# A read-only file is not replaced, even with -f.
echo old >readonly.txt
chmod 444 readonly.txt
expect 1 "setuppack: readonly.txt: " sp unpack -f data.pk readonly.txt
[ "$(cat readonly.txt)" = old ] || fail "the read-only file changed"

# A read-only folder, and a full one (small file systems of their own).
mkdir readonly small
if mount -t tmpfs -o ro,size=64k tmpfs readonly 2>/dev/null && mount -t tmpfs -o size=64k tmpfs small; then
  expect 1 "setuppack: readonly/x: " sp unpack data.pk readonly/x
  expect 1 "setuppack: small/x: " sp unpack data.pk small/x
  no_partial small
  [ -e small/x ] && fail "half a file was left on the full disk"
else
  echo "no tmpfs here (not root?): read-only and full folders not tried"
fi

# A path of more than 260 characters, relative and absolute.
long=$(printf 'f%.0s' $(seq 100))/$(printf 'g%.0s' $(seq 100))/$(printf 'h%.0s' $(seq 100))
mkdir -p "$long"
expect 0 "" sp pack data "$long/data.pk"
cmp -s data.pk "$long/data.pk" || fail "the pack file in the long path differs"
expect 0 "" sp unpack "$work/$long/data.pk" "$work/$long/data"
cmp -s data "$long/data" || fail "the file unpacked into the long path differs"

# A corpus: the same bytes as the host build, with every setting, and media
# with the setup.exe beside setuppack.exe.
corpus=(/usr/share/common-licenses/GPL-3 "$wine_dlls/attrib.exe" "$wine_dlls/version.dll" "$wine_dlls/xcopy.exe")
mkdir corpus app
for options in "" --fast --best --no-check; do
  args=() && i=0
  for f in "${corpus[@]}"; do cp "$f" corpus/$i && args+=(corpus/$i corpus/$i.$options.exe.pk) && i=$((i + 1)); done
  expect 0 "" sp $options pack "${args[@]}"
  "$host" $options pack "${args[@]//.exe.pk/.host.pk}"
  for ((j = 0; j < i; j++)); do
    cmp -s corpus/$j.$options.exe.pk corpus/$j.$options.host.pk || fail "corpus/$j packed with '$options' differs"
  done
done
cp "$exe" app/setuppack.exe
printf 'MZ stand-in' >app/setup.exe
# The stand-in has no seal block to fill in: copied unsealed.
"$host" media --no-seal --script corpus/0 --installer corpus/1 --setup app/setup.exe -o host-media >/dev/null
expect 0 "installed with setuppack" "$wine_run" --win64 app/setuppack.exe media --no-seal --script corpus/0 \
  --installer corpus/1 -o app-media
diff -r host-media app-media >/dev/null || fail "media made by setuppack.exe differ from the host build's"
# The vendor's own setup.exe: its resources are written by setuppack itself,
# to the same bytes.
cp "$setup" brand-setup.exe && cp "$here/../branding/ru.txt" ru.txt &&
  python3 "$here/../branding/make_branding_data.py" . || fail "the branding inputs"
brand=(media --single-file --script corpus/0 --installer corpus/1 --setup brand-setup.exe --product-name "Пример"
  --product-version 2.5.1 --file-version 2.5.1.77 --company "ООО «Пример»" --description "Установщик"
  --copyright "© 2026" --icon vendor.ico --strings ru.txt)
"$host" "${brand[@]}" -o host-branded.exe >/dev/null
expect 0 "sealed for them" sp "${brand[@]}" -o exe-branded.exe
cmp -s host-branded.exe exe-branded.exe || fail "the branded program setuppack.exe made differs from the host build's"
expect 0 "ProductName: Пример" sp test exe-branded.exe

# It speaks Windows: --help names the manual and the setup.exe beside
# setuppack.exe; sealing a signed setup.exe suggests signtool, and a folder
# typed with \ is joined to its file name with \.
expect 0 "The manual: setuppack.txt, beside setuppack.exe." sp --help
expect 0 "(default: the setup.exe beside" sp --help
sp --help | grep -q "man setuppack\|share/setuppack" && fail "--help speaks of Unix"
"$host" media --no-setup --script corpus/0 --installer corpus/1 -o signed >/dev/null
python3 - "$wine_dlls/attrib.exe" signed/setup.exe <<'EOF'
import struct, sys
image = bytearray(open(sys.argv[1], "rb").read())
optional = struct.unpack_from("<I", image, 60)[0] + 24
pe32 = struct.unpack_from("<H", image, optional)[0] == 0x10B
struct.pack_into("<II", image, optional + (96 if pe32 else 112) + 4 * 8, len(image), 8)  # a certificate table
open(sys.argv[2], "wb").write(image)
EOF
expect 1 "'.\signed\setup.exe' carries a signature" sp seal '.\signed'
expect 1 "signtool remove /s gives back the unsigned one" sp seal '.\signed'

echo "setuppack.exe: $failures failures"
[ $failures -eq 0 ]
