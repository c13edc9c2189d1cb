#!/usr/bin/env bash
# branding_check.sh SETUPPACK SETUP.EXE DATA_DIR WORK_DIR
# The branded programs that the build made (DATA_DIR: branded.exe, a
# single-file program, and branded_media/, a media folder, both with every
# option of media) read back by pefile (check_branding.py): each version
# field, the icon group and its images, the checksum; setuppack test and
# list print the version fields; the single-file program signed with
# osslsigncode verifies and still tests whole (left as
# WORK_DIR/signed_branded.exe for branding_test). Then every refusal: a
# damaged icon, a file that is no icon, a translation with a %s too few or
# too many, an unknown message number, a version such as 1.2.x: setuppack
# fails naming the problem, and writes nothing. And the sample strings file
# of docs/ lists every message of setup.exe as it holds it.
set -uo pipefail
setuppack=$1 setup=$2 data=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" || exit 1
fail=0
check() { /usr/bin/python3 "$here/check_branding.py" "$@" || fail=1; }
fields=(Language=041904B0 "ProductName=Пример" ProductVersion=2.5.1 ProductVersionFixed=2.5.1.0
  FileVersion=2.5.1.77 FileVersionFixed=2.5.1.77 "CompanyName=ООО «Пример»"
  "FileDescription=Установщик Пример" "LegalCopyright=© 2026 ООО «Пример»")
check --sample "$setup" "$here/../../../docs/setup-strings.txt"
check "$data/branded.exe" "$data/vendor.ico" "${fields[@]}"
check "$data/branded_media/setup.exe" "$data/vendor.ico" "${fields[@]}"

for what in "test $data/branded.exe" "list $data/branded.exe" "test $data/branded_media"; do
  # shellcheck disable=SC2086
  out=$("$setuppack" $what 2>&1)
  if grep -q 'ProductName: Пример' <<<"$out" && grep -q 'file version 2.5.1.77, product version 2.5.1.0' <<<"$out"; then
    echo "setuppack $what: prints the version fields"
  else
    echo "FAIL: setuppack $what does not print the version fields:"; echo "$out"; fail=1
  fi
done

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -subj /CN=Brand-Test \
  -days 2 -addext extendedKeyUsage=codeSigning 2>/dev/null || { echo "FAIL: openssl"; exit 1; }
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Branding test" -in "$data/branded.exe" \
  -out "$work/signed_branded.exe" >/dev/null || { echo "FAIL: osslsigncode sign"; exit 1; }
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed_branded.exe" >"$work/verify.txt" 2>&1 &&
  "$setuppack" test "$work/signed_branded.exe" >/dev/null; then
  echo "signed branded.exe verifies and tests whole"
else
  echo "FAIL: signed branded.exe"; cat "$work/verify.txt"; fail=1
fi

# Refusals: each row is an expected message and the options that earn it.
printf '1=Файл не найден.\n' >"$work/too_few.txt"
printf '# a comment\n\n3=Ошибка в %%s файле %%s.\n' >"$work/too_many.txt"
printf 'language=1049\n42=Что-то\n' >"$work/unknown.txt"
printf '2=Установка %%s\n' >"$work/caption.txt"
rows=(
  "damaged.ico' is not an icon file (.ico) or is damaged: image 3 lies outside the file|--icon $data/damaged.ico"
  "notanicon.ico' is not an icon file (.ico) or is damaged: it does not begin|--icon $data/notanicon.ico"
  "too_few.txt, line 1: message 1 must keep exactly 1 %s|--strings $work/too_few.txt"
  "too_many.txt, line 3: message 3 must keep exactly 1 %s|--strings $work/too_many.txt"
  "unknown.txt, line 2: message 42 is not one of setup.exe's|--strings $work/unknown.txt"
  "caption.txt, line 1: message 2 has a %s, and the original has none|--strings $work/caption.txt"
  "--product-version '1.2.x' is not a version|--product-version 1.2.x"
  "--file-version '1.2.3.4.5' is not a version|--product-version 1.2 --file-version 1.2.3.4.5"
)
for row in "${rows[@]}"; do
  expected=${row%%|*} options=${row#*|}
  for form in folder single; do
    target=$work/refused_$form
    [ $form = single ] && target=$work/refused.exe && more=--single-file || more=
    # shellcheck disable=SC2086
    out=$("$setuppack" media --script "$data/../../launcher/data/script.bin" \
      --installer "$data/../../launcher/data/standin.exe" --setup "$setup" $more $options -o "$target" 2>&1)
    status=$?
    if [ $status = 1 ] && grep -qF -- "$expected" <<<"$out" && grep -qF 'nothing was written' <<<"$out" &&
      [ -z "$(ls -A "$target" 2>/dev/null)" ]; then
      echo "refused ($form): $options"
    else
      echo "FAIL ($form, status $status): $options"; echo "$out"; ls -la "$target" 2>/dev/null; fail=1
    fi
    rm -rf "$target"
  done
done
exit $fail
