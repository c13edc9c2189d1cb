#!/usr/bin/env bash
# sign_setup_test.sh SETUPPACK SETUP.EXE DATA_DIR WORK_DIR
# Seals setup.exe for the tests' pack files (sample.SC_, standin.EX_) with
# setuppack seal, signs it with a throwaway code-signing certificate made
# here, and checks the signature: osslsigncode verify passes, and fails once
# any byte of the seal is changed; sealing set the PE checksum right. Leaves
# the signed copy as WORK_DIR/signing/signed_setup.exe for the Wine tests.
set -uo pipefail
setuppack=$1 setup=$2 data=$3 out=$4/signing
rm -rf "$out"
mkdir -p "$out/media" || exit 1
cp "$setup" "$out/media/setup.exe" && cp "$data/sample.SC_" "$out/media/INSTALL.SC_" &&
  cp "$data/standin.EX_" "$out/media/INSTALL.EX_" || exit 1
"$setuppack" seal "$out/media" || { echo "FAIL: setuppack seal"; exit 1; }
"$setuppack" test "$out/media" | grep -q 'sealed, and both pack files match' || { echo "FAIL: setuppack test"; exit 1; }
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
# Every byte of the seal is covered by the signature.
uncovered=0
for ((i = 0; i < 100; ++i)); do
  cp "$signed" "$out/changed.exe"
  byte=$(od -An -tu1 -j$((block + i)) -N1 "$signed" | tr -d ' ')
  printf "\\$(printf %03o $((byte ^ 0x55)))" | dd of="$out/changed.exe" bs=1 seek=$((block + i)) conv=notrunc status=none
  if osslsigncode verify -CAfile "$out/cert.pem" -in "$out/changed.exe" >/dev/null 2>&1; then
    echo "FAIL: byte $i of the seal changed, and the signature still verifies"
    uncovered=$((uncovered + 1))
  fi
done
[ $uncovered -eq 0 ] && echo "a change to any of the seal's 100 bytes fails the signature" || fail=1
[ $fail -eq 0 ] && echo "signature check passed"
exit $fail
