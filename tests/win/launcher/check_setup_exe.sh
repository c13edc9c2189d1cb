#!/usr/bin/env bash
# check_setup_exe.sh OBJDUMP WINDRES SETUP.EXE
# Checks that setup.exe imports only KERNEL32, USER32 and GDI32, carries the
# string table, the dialog and the icon (as windres reads them back; the
# field-by-field check is check_resources.py), and fits in 16 KB; prints its
# size.
set -uo pipefail
objdump=$1 windres=$2 exe=$3
fail=0

dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
echo "imports: $(echo $dlls)"
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|GDI32.DLL) ;;
    *) echo "FAIL: setup.exe imports $dll"; fail=1 ;;
  esac
done
for dll in KERNEL32.DLL USER32.DLL GDI32.DLL; do
  echo "$dlls" | grep -qx "$dll" || { echo "FAIL: no $dll import"; fail=1; }
done

rc=$("$windres" -i "$exe" -O rc 2>&1)
expect() {
  if ! grep -qF -- "$1" <<<"$rc"; then echo "FAIL: resources lack: $1"; fail=1; fi
}
expect 'LANGUAGE 9, 1'
expect '1, "File %s is not found. Further installation not possible."'
expect '2, "Setup"'
expect '3, "Error in %s file. Further installation not possible."'
expect '4001 DIALOG'
expect 'CTEXT "Setup is initializing, please wait...", 65535, 7, 39, 162, 8, 0x50020001'
expect 'STYLE 0x90c800c0'
expect 'FONT 10, "MS Sans Serif"'
expect '5001 14 /* RT_GROUP_ICON */'

size=$(stat -c %s "$exe")
echo "setup.exe size: $size bytes"
if [ "$size" -gt 16384 ]; then echo "FAIL: setup.exe is larger than 16384 bytes"; fail=1; fi
[ $fail -eq 0 ] && echo "setup.exe check passed"
exit $fail
