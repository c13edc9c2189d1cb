#!/usr/bin/env bash
# sign_setup_test.sh SETUPPACK SETUP.EXE DATA_DIR WORK_DIR
# Seals setup.exe for the tests' pack files (sample.SC_, standin.EX_) with
# setuppack seal, signs it with a throwaway code-signing certificate made
# here, and checks the signature: osslsigncode verify passes, and fails once
# any byte of the seal or of the settings block is changed; sealing set the
# PE checksum right. Then
# the same for a program that carries its pack files (media --single-file of
# script.bin and standin.exe): signed, it verifies, setuppack test still
# reads it, and a change to a byte of either pack file it carries fails the
# signature. Leaves the signed copies as WORK_DIR/signing/signed_setup.exe
# and signed_single.exe for the Wine tests.
set -uo pipefail
setuppack=$1 setup=$2 data=$3 out=$4/signing
rm -rf "$out"
mkdir -p "$out/media" || exit 1
cp "$setup" "$out/media/setup.exe" && cp "$data/sample.SC_" "$out/media/INSTALL.SC_" &&
  cp "$data/standin.EX_" "$out/media/INSTALL.EX_" || exit 1
"$setuppack" seal "$out/media" || { echo "FAIL: setuppack seal"; exit 1; }
# grep reads all of it (not -q): setuppack says so when its output is cut off.
"$setuppack" test "$out/media" | grep 'sealed, and both pack files match' >/dev/null || { echo "FAIL: setuppack test"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/key.pem" -out "$out/cert.pem" -subj /CN=Setup-Test \
  -days 2 -addext extendedKeyUsage=codeSigning 2>/dev/null || { echo "FAIL: openssl"; exit 1; }
signed=$out/signed_setup.exe
osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "Setup test" -in "$out/media/setup.exe" \
  -out "$signed" >/dev/null || { echo "FAIL: osslsigncode sign"; exit 1; }

fail=0
# Where the seal is, and the checksum sealing set against the build's own
# PE code (compact_headers.py).
read -r block checksum_ok < <(python3 - "$out/media/setup.exe" "$(dirname "$0")/../../../launcher" <<'PY'
import struct, sys
sys.path.insert(0, sys.argv[2])
from compact_headers import checksum
data = open(sys.argv[1], "rb").read()
at = struct.unpack_from("<I", data, 60)[0] + 88
print(data.find(b"SETSEAL\x1a"), struct.unpack_from("<I", data, at)[0] == checksum(data, at))
PY
)
echo "seal at $block, checksum right: $checksum_ok"
[ "$checksum_ok" = True ] || fail=1
if osslsigncode verify -CAfile "$out/cert.pem" -in "$signed" >"$out/verify.txt" 2>&1; then
  echo "signed copy verifies"
else
  echo "FAIL: the signed copy does not verify"
  cat "$out/verify.txt"
  fail=1
fi
# Every byte of the seal, and of the settings block, is covered by the
# signature.
settings=$(python3 -c 'import sys; print(open(sys.argv[1],"rb").read().find(b"SETOPTS\x1a"))' "$signed")
[ "$settings" -gt 0 ] || { echo "FAIL: no settings block"; fail=1; }
uncovered=0
for at in $(seq "$block" $((block + 115))) $(seq "$settings" $((settings + 127))); do
  cp "$signed" "$out/changed.exe"
  byte=$(od -An -tu1 -j"$at" -N1 "$signed" | tr -d ' ')
  printf "\\$(printf %03o $((byte ^ 0x55)))" | dd of="$out/changed.exe" bs=1 seek="$at" conv=notrunc status=none
  if osslsigncode verify -CAfile "$out/cert.pem" -in "$out/changed.exe" >/dev/null 2>&1; then
    echo "FAIL: byte $at of the seal or settings changed, and the signature still verifies"
    uncovered=$((uncovered + 1))
  fi
done
[ $uncovered -eq 0 ] && echo "a change to any of the seal's or the settings' bytes fails the signature" || fail=1

# One file to download, signed after it was made.
"$setuppack" media --script "$data/script.bin" --installer "$data/standin.exe" --setup "$setup" --single-file \
  -o "$out/single.exe" >/dev/null || { echo "FAIL: setuppack media --single-file"; exit 1; }
osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "Setup test" -in "$out/single.exe" \
  -out "$out/signed_single.exe" >/dev/null || { echo "FAIL: osslsigncode sign of the single-file program"; exit 1; }
if osslsigncode verify -CAfile "$out/cert.pem" -in "$out/signed_single.exe" >"$out/verify.txt" 2>&1 &&
  "$setuppack" test "$out/signed_single.exe" | grep 'both pack files it carries match its seal' >/dev/null; then
  echo "signed single-file program verifies, and setuppack test reads it"
else
  echo "FAIL: the signed single-file program does not verify or test"
  cat "$out/verify.txt"
  fail=1
fi
# A byte in the middle of each pack file it carries (the script follows the
# image, the installer ends the unsigned file).
size=$(stat -c %s "$out/single.exe")
image=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); print(d.find(b"SETSEAL\x1a"))' "$out/single.exe")
script_at=$(od -An -tu4 -j$((image + 20)) -N4 "$out/single.exe" | tr -d ' ')
installer_at=$(od -An -tu4 -j$((image + 68)) -N4 "$out/single.exe" | tr -d ' ')
for at in $(((script_at + installer_at) / 2)) $(((installer_at + size) / 2)); do
  cp "$out/signed_single.exe" "$out/changed.exe"
  byte=$(od -An -tu1 -j$at -N1 "$out/changed.exe" | tr -d ' ')
  printf "\\$(printf %03o $((byte ^ 0x55)))" | dd of="$out/changed.exe" bs=1 seek=$at conv=notrunc status=none
  if osslsigncode verify -CAfile "$out/cert.pem" -in "$out/changed.exe" >/dev/null 2>&1; then
    echo "FAIL: byte $at of a carried pack file changed, and the signature still verifies"
    fail=1
  else
    echo "byte $at of a carried pack file changed: the signature fails"
  fi
done
[ $fail -eq 0 ] && echo "signature check passed"
exit $fail
