#!/usr/bin/env bash
# Says which maintainer and home page the packages carry, and fails on one
# that is a placeholder: a documentation domain (example.org, example.com,
# example.net), an .invalid address, or a template's @NAME@ left in. A home
# page that is left out is no placeholder: README.txt then names none.
# Usage: tests/packages/check_metadata.sh DEB README_TXT
set -uo pipefail
deb=$1 readme=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
placeholder() { grep -qiE '(^|[@./])example\.(org|com|net)([/>:]|$)|\.invalid([/>:]|$)|@[A-Z_]+@' <<<"$1"; }

maintainer=$(dpkg-deb --field "$deb" Maintainer)
homepage=$(dpkg-deb --field "$deb" Homepage)
echo "packages: maintainer '$maintainer', home page '${homepage:-none}'"
changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/setuppack/changelog.gz 2>/dev/null | gunzip)
signer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' <<<"$changelog")
[ "$signer" = "$maintainer" ] || fail "the changelog is signed by '$signer', not the maintainer"
for value in "$maintainer" "$homepage" "$signer"; do
  ! placeholder "$value" || fail "a placeholder: '$value'"
done
# README.txt names the .deb's home page, or none.
named=$(grep -oE '(https?|ftp)://[^[:space:]]+' "$readme" | tr -d '\r' | sed 's/[.,]$//' | sort -u)
[ "$named" = "$homepage" ] || fail "README.txt names '$named' as the home page, the .deb '$homepage'"
! placeholder "$(cat "$readme")" || fail "README.txt holds a placeholder: $(grep -iE 'example\.|@[A-Z_]+@' "$readme")"
[ $failures -eq 0 ]
