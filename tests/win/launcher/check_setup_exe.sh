#!/usr/bin/env bash
# check_setup_exe.sh OBJDUMP WINDRES SETUP.EXE
# Checks that setup.exe imports only KERNEL32, USER32 and GDI32, carries the
# string table, the dialog and the icon (as windres reads them back; the
# field-by-field check is check_resources.py), loads at a random base with
# data that is never executable (DYNAMIC_BASE, NX_COMPAT and base relocations
# to move it with; the 32-bit image also NO_SEH, the 64-bit one
# HIGH_ENTROPY_VA), runs from the swap file when started from removable or
# network media, carries a well-formed application manifest that asks to be
# elevated (check_resources.py --manifest) and, as the 32-bit build, fits in
# 26 KB (26,624 bytes) and runs on a Pentium (no CMOV, FCOMI, MMX or SSE); prints its size
# and each section's free space. The hardening check must also fail on
# copies of setup.exe with the flags cleared and with the relocations gone.
set -uo pipefail
objdump=$1 windres=$2 exe=$3
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $("$objdump" -f "$exe") in
  *pei-i386*) arch_flag=NO_SEH relocation_directory=160 ;;
  *) arch_flag=HIGH_ENTROPY_VA relocation_directory=176 ;;
esac

# One FAIL line for each piece of the hardening that the image $1 lacks.
hardening_failures() {
  local headers flag size
  headers=$("$objdump" -p "$1")
  for flag in DYNAMIC_BASE NX_COMPAT $arch_flag; do
    grep -qx "\s*$flag" <<<"$headers" || echo "FAIL: DllCharacteristics lack $flag"
  done
  if grep -qx '\s*relocations stripped' <<<"$headers"; then echo "FAIL: marked as having no relocations"; fi
  for flag in removable network; do
    grep -qx "\s*copy to swap file if on $flag media" <<<"$headers" || echo "FAIL: not run from swap on $flag media"
  done
  size=$(sed -n 's/^Entry 5 [0-9a-f]* \([0-9a-f]*\) .*/\1/p' <<<"$headers")
  [ "$((16#${size:-0}))" -gt 0 ] || echo "FAIL: no base relocations"
}

# Offsets below count from the PE signature.
pe_offset() { od -An -tu4 -j60 -N4 "$1" | tr -d ' '; }
read_u16() { od -An -tu2 -j$(($(pe_offset "$1") + $2)) -N2 "$1" | tr -d ' '; }
# patched_copy SOURCE COPY BYTES OFFSET VALUE: COPY is SOURCE with the
# little-endian VALUE of BYTES bytes at OFFSET.
patched_copy() {
  local i
  cp "$1" "$2"
  for ((i = 0; i < $3; ++i)); do printf "\\$(printf %03o $((($5 >> (8 * i)) & 255)))"; done |
    dd of="$2" bs=1 seek=$(($(pe_offset "$1") + $4)) conv=notrunc status=none
}

failures=$(hardening_failures "$exe")
if [ -n "$failures" ]; then
  echo "$failures"
  fail=1
else
  # The same check on copies that lack the flags, and the relocations (the
  # directory emptied and the file marked as having none).
  patched_copy "$exe" "$work/no-flags.exe" 2 94 0
  if [ "$(hardening_failures "$work/no-flags.exe" | wc -l)" -ne 3 ]; then
    echo "FAIL: the check passes a copy without DllCharacteristics"
    fail=1
  fi
  patched_copy "$exe" "$work/no-directory.exe" 8 $relocation_directory 0
  patched_copy "$work/no-directory.exe" "$work/no-relocations.exe" 2 22 $(($(read_u16 "$exe" 22) | 1))
  if [ "$(hardening_failures "$work/no-relocations.exe" | wc -l)" -ne 2 ]; then
    echo "FAIL: the check passes a copy without relocations"
    fail=1
  fi
  patched_copy "$exe" "$work/no-swap.exe" 2 22 $(($(read_u16 "$exe" 22) & ~0x0C00))
  if [ "$(hardening_failures "$work/no-swap.exe" | wc -l)" -ne 2 ]; then
    echo "FAIL: the check passes a copy not run from swap"
    fail=1
  fi
fi

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
expect '4, "Setup cannot use the folder %s: its name is too long or has letters of another code page. Further installation not possible."'
expect '7, "Setup is already running. Wait until it has finished, then start it again."'
expect '4001 DIALOG'
expect 'CTEXT "Setup is initializing, please wait...", 65535, 7, 39, 162, 8, 0x50020001'
expect 'STYLE 0x90c800c0'
expect 'FONT 10, "MS Sans Serif"'
expect '5, "The download %s is incomplete or damaged. Download it again. Further installation not possible."'
expect '6, "\n\nStarted from a zip file? Extract all of its files into one folder first, then start Setup there."'
expect '5001 14 /* RT_GROUP_ICON */'
expect '1 24 /* RT_MANIFEST */'
python3 "$(dirname "$0")/check_resources.py" --manifest "$exe" || fail=1

size=$(stat -c %s "$exe")
echo "setup.exe size: $size bytes"
"$objdump" -h "$exe" | while read -r index name bytes _; do
  [[ $index =~ ^[0-9]+$ ]] || continue
  read -r flags
  [[ $flags == *CONTENTS* ]] || continue
  printf '  %-7s %6d bytes, %4d free\n' "$name" $((16#$bytes)) $(((16#$bytes + 511) / 512 * 512 - 16#$bytes))
done
if [ "$arch_flag" = NO_SEH ] && [ "$size" -gt 26624 ]; then
  echo "FAIL: setup.exe is larger than 26624 bytes"
  fail=1
fi
if [ "$arch_flag" = NO_SEH ]; then
  later=$("$objdump" -d "$exe" | grep -cE $'\t(cmov|fcmov|fcomi|fucomi)|%x?mm[0-9]')
  echo "instructions a Pentium lacks: $later"
  [ "$later" -eq 0 ] || { echo "FAIL: setup.exe uses instructions of later processors"; fail=1; }
fi
[ $fail -eq 0 ] && echo "setup.exe check passed"
exit $fail
