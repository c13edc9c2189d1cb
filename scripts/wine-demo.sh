#!/usr/bin/env bash
# wine-demo.sh: the launcher's main job, end to end, under Wine.
#
#   scripts/wine-demo.sh [--win32|--win64] [--build DIR] [--out DIR] [-- TAIL...]
#
# --build: the Windows build folder (default build/win32 or build/win64);
# --out: where the media folder and the report go (default build/demo-ARCH).
#
# Needs the host build (setuppack) and the Windows build of the chosen arch
# (default --win32, the product), e.g.:
#   cmake --preset host && cmake --build build/host -j2 --target setuppack
#   cmake --preset win32 && cmake --build build/win32 -j2
# It packs a sample script and the stand-in installer (tests/win/launcher/
# stand_in_installer.cpp, which records what it received and signals
# "TalvenorFinishComplete") into a media folder with `setuppack media`, runs
# that setup.exe under Wine on the project's virtual X display
# (scripts/wine-run.sh) with the command tail TAIL (default: /Q /X), and prints
# what happened: the files expanded (byte-compared with their sources), the
# installer's command line and current directory, and the clean-up of
# C:\windows\ZIMRO~SE.TUP; then the same with one file to download
# (setuppack media --single-file), renamed, alone in a folder. Exit code 0
# when every check passed.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
project=$(cd "$here/.." && pwd)
arch=win32
out=""
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --win32|--win64) arch=${1#--}; shift ;;
    --out) out=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "wine-demo.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
tail=("$@")
[ ${#tail[@]} -gt 0 ] || tail=(/Q /X)

build=${build:-$project/build/$arch}
setuppack=${SETUPPACK:-$project/build/host/pack/setuppack}
setup_exe=$build/launcher/setup.exe
stand_in=$build/tests/win/launcher/stand_in_installer.exe
for f in "$setuppack" "$setup_exe" "$stand_in"; do
  [ -f "$f" ] || { echo "wine-demo.sh: $f is missing: build it first (see the header)" >&2; exit 2; }
done
out=${out:-$project/build/demo-$arch}
rm -rf "$out"
mkdir -p "$out/media" "$out/report"

# A sample script: a small text the installer would read.
{
  echo "; sample installation script"
  for i in $(seq 1 200); do echo "copy file$i.dat to %TARGET%\\file$i.dat"; done
} >"$out/INSTALL.SCR.source"

echo "== packing with setuppack"
"$setuppack" media --script "$out/INSTALL.SCR.source" --installer "$stand_in" \
  --setup "$setup_exe" -o "$out/media" || exit 1
ls -l "$out/media"
"$setuppack" list "$out/media/INSTALL.SC_" "$out/media/INSTALL.EX_" || exit 1
# The media as setup.exe will see them: its seal and both pack files.
"$setuppack" test "$out/media" || exit 1

winpath() { echo "Z:$1" | tr / '\\'; }
eval "$("$here/wine-run.sh" --$arch --env)" || exit 1
temp_dir=$WINEPREFIX/drive_c/windows/ZIMRO~SE.TUP

echo
echo "== running setup.exe ${tail[*]} under Wine ($arch) on display $DISPLAY"
start=$(date +%s.%N)
STANDIN_REPORT=$(winpath "$out/report") STANDIN_MODE=late STANDIN_DELAY_MS=1000 \
  "$here/wine-run.sh" --$arch --timeout 120 "$out/media/setup.exe" "${tail[@]}"
rc=$?
end=$(date +%s.%N)
awk -v rc="$rc" -v s="$start" -v e="$end" 'BEGIN { printf "setup.exe exit code: %s after %.1f s\n", rc, e - s }'

ok=1
report=$out/report/report.txt
if [ ! -f "$report" ]; then
  echo "FAIL: the installer did not run (no report)"; exit 1
fi
value() { sed -n "s/^$1=//p" "$report"; }

echo
echo "== what the installer received"
echo "command line:      $(value cmdline)"
echo "current directory: $(value cwd)"
echo "started as:        $(value exe)"
echo "beside it:         $(value beside | tr '|' ' ')"
expected_media=$(winpath "$out/media")
case "$(value cmdline)" in
  *"\"$expected_media\" ${tail[*]}") echo "arguments: quoted media folder, then the tail: ok" ;;
  *) echo "FAIL: arguments are not \"$expected_media\" ${tail[*]}"; ok=0 ;;
esac

echo
echo "== the please-wait dialog"
gone_ms=$(value setup_dialog_gone_ms)
case "$(value setup_dialog_at_start)" in
  1) echo "still there when the installer started (it had not yet waited for input)" ;;
  *) echo "already gone when the installer started" ;;
esac
if [ -n "$gone_ms" ] && [ "$gone_ms" -ge 0 ]; then
  echo "gone $gone_ms ms after the installer started, while it ran"
else
  echo "FAIL: the dialog stayed while the installer ran"; ok=0
fi

echo
echo "== files expanded"
if cmp -s "$out/report/INSTALL.SCR.copy" "$out/INSTALL.SCR.source"; then
  echo "INSTALL.SCR: $(stat -c %s "$out/INSTALL.SCR.source") bytes, identical to the script"
else
  echo "FAIL: INSTALL.SCR differs from the script"; ok=0
fi
if cmp -s "$out/report/INSTALL.EXE.copy" "$stand_in"; then
  echo "INSTALL.EXE: $(stat -c %s "$stand_in") bytes, identical to the installer"
else
  echo "FAIL: INSTALL.EXE differs from the installer"; ok=0
fi

for pack in INSTALL.SC_ INSTALL.EX_; do
  check=$("$setuppack" list "$out/media/$pack" | sed -n 's/^  check record: //p')
  if [ -n "$check" ]; then
    echo "$pack: check record verified by setup.exe ($check)"
  else
    echo "FAIL: $pack has no check record"; ok=0
  fi
done

echo
echo "== clean-up"
echo "INSTALL.SCR there when the installer signalled: $(value scr_at_signal)"
if [ -e "$temp_dir" ]; then
  echo "FAIL: C:\\windows\\ZIMRO~SE.TUP still exists: $(ls "$temp_dir")"; ok=0
else
  echo "C:\\windows\\ZIMRO~SE.TUP removed after the signal"
fi
[ "$rc" = 0 ] || { echo "FAIL: exit code $rc"; ok=0; }

# The same as one file to download: setup.exe that carries both pack files,
# renamed, alone in a folder of its own.
echo
echo "== one file to download (setuppack media --single-file)"
mkdir -p "$out/download" "$out/report-single"
single=$out/download/product-2.1-setup.exe
"$setuppack" media --script "$out/INSTALL.SCR.source" --installer "$stand_in" --setup "$setup_exe" \
  --single-file -o "$single" || exit 1
"$setuppack" test "$single" || ok=0
STANDIN_REPORT=$(winpath "$out/report-single") STANDIN_MODE=signal \
  "$here/wine-run.sh" --$arch --timeout 120 "$single" "${tail[@]}"
single_rc=$?
report=$out/report-single/report.txt
if [ -f "$report" ]; then
  echo "command line:      $(value cmdline)"
  case "$(value cmdline)" in
    *"\"$(winpath "$out/download")\" ${tail[*]}") echo "arguments: quoted download folder, then the tail: ok" ;;
    *) echo "FAIL: arguments are not \"$(winpath "$out/download")\" ${tail[*]}"; ok=0 ;;
  esac
  if cmp -s "$out/report-single/INSTALL.SCR.copy" "$out/INSTALL.SCR.source" &&
    cmp -s "$out/report-single/INSTALL.EXE.copy" "$stand_in"; then
    echo "INSTALL.SCR and INSTALL.EXE: identical to their sources"
  else
    echo "FAIL: the files the program carries expanded to other bytes"; ok=0
  fi
else
  echo "FAIL: the installer did not run from the single-file program (no report)"; ok=0
fi
[ -e "$temp_dir" ] && { echo "FAIL: C:\\windows\\ZIMRO~SE.TUP still exists"; ok=0; }
[ "$single_rc" = 0 ] || { echo "FAIL: exit code $single_rc"; ok=0; }
[ $ok = 1 ] && echo "demo: all checks passed" || echo "demo: FAILED"
"$here/wine-run.sh" --$arch --stop
[ $ok = 1 ]
