#!/usr/bin/env bash
# check_setup_exe.sh OBJDUMP WINDRES SETUP.EXE
# Checks that setup.exe imports only system DLLs (KERNEL32, USER32, GDI32)
# and carries the string table (ids 1-3, language 1033); prints its size.
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
echo "$dlls" | grep -qx KERNEL32.DLL || { echo "FAIL: no KERNEL32 import"; fail=1; }

rc=$("$windres" -i "$exe" -O rc 2>&1)
expect() {
  if ! grep -qF -- "$1" <<<"$rc"; then echo "FAIL: resources lack: $1"; fail=1; fi
}
expect 'LANGUAGE 9, 1'
expect '1, "File %s is not found. Further installation not possible."'
expect '2, "Setup"'
expect '3, "Error in %s file. Further installation not possible."'

size=$(stat -c %s "$exe")
echo "setup.exe size: $size bytes"
[ $fail -eq 0 ] && echo "setup.exe check passed"
exit $fail
