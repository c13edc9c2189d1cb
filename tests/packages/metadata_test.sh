#!/usr/bin/env bash
# check_metadata.sh against small packages of known metadata: it passes real
# values (a home page or none) and fails each kind of placeholder.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/setuppack-metadata-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# case EXPECTED MAINTAINER HOMEPAGE README_LINE [SIGNER]
case_() {
  local expected=$1 maintainer=$2 homepage=$3 line=$4 signer=${5:-$2} root=$work/root-$((++made))
  mkdir -p "$root/DEBIAN" "$root/usr/share/doc/setuppack"
  printf 'setuppack (1.0) unstable; urgency=medium\n\n  * Release.\n\n -- %s  Thu, 01 Jan 2026 00:00:00 +0000\n' \
    "$signer" | gzip -n >"$root/usr/share/doc/setuppack/changelog.gz"
  { printf 'Package: setuppack\nVersion: 1.0\nArchitecture: amd64\nMaintainer: %s\n' "$maintainer"
    [ -z "$homepage" ] || printf 'Homepage: %s\n' "$homepage"
    printf 'Description: test\n test\n'; } >"$root/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$root" "$root.deb" >/dev/null
  printf 'setuppack 1.0 for 64-bit Windows\r\n%s\r\n' "$line" >"$root.txt"
  bash "$here/check_metadata.sh" "$root.deb" "$root.txt" >"$root.log" 2>&1
  local status=$?
  if [ $((status != 0)) -eq "$expected" ] && grep -qF "maintainer '$maintainer'" "$root.log"; then
    echo "ok: '$maintainer' '$homepage' '$line' -> $status"
  else
    echo "FAIL: '$maintainer' '$homepage' '$line' -> $status: $(cat "$root.log")"
    failures=$((failures + 1))
  fi
}
made=0
real='Ann Packager <ann@packages.debian.net>'
case_ 0 "$real" "https://setuppack.dev" "The documentation is at https://setuppack.dev."
case_ 0 "$real" "" "setuppack.txt describes every option."
case_ 1 "Setup developers <setuppack@example.org>" "" "no home page"
case_ 1 "$real" "https://example.org/setuppack" "is at https://example.org/setuppack."
case_ 1 "$real" "https://www.example.com/x" "is at https://www.example.com/x"
case_ 1 "Someone <someone@nowhere.invalid>" "" "no home page"
case_ 1 "$real" "" "is at @HOMEPAGE@"
case_ 1 "$real" "https://setuppack.dev" "no home page named"
case_ 1 "$real" "" "is at https://setuppack.dev"
case_ 1 "$real" "" "no home page" "Other Person <other@packages.debian.net>"
echo "metadata: $failures failures"
[ $failures -eq 0 ]
