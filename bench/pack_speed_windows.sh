#!/usr/bin/env bash
# Pack speed of setuppack (host build) and setuppack.exe (win64 build, under
# wine64), paired in one run: the standard corpus of setup_bench, each file
# on its own, ROUNDS times in one command, REPEAT times each. Wine's start-up
# (setuppack.exe --version, timed in the same pair) is taken off its times.
# Speeds by wall-clock time and by CPU time (user + system of the process
# tree; on a machine others share, CPU time is the steadier of the two).
# Usage: bench/pack_speed_windows.sh [ROUNDS [REPEAT]]   (default 4, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-4} repeat=${2:-3}
host=$PWD/build/host/pack/setuppack exe=$PWD/build/win64/pack/setuppack.exe
wine_run="$PWD/scripts/wine-run.sh --win64"
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
corpus=("$dlls"/{advpack.dll,attrib.exe,cabinet.dll,notepad.exe,regedit.exe,version.dll,wordpad.exe,xcopy.exe}
  /usr/share/wine/wine.inf /usr/share/common-licenses/GPL-2)
work=$(mktemp -d /tmp/pack-speed-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
hargs=() eargs=() bytes=0
for ((r = 0; r < rounds; r++)); do
  for f in "${corpus[@]}"; do
    n=${#hargs[@]}
    cp "$f" "in$n" && hargs+=("in$n" "h$n.pk") && eargs+=("in$n" "e$n.pk") && bytes=$((bytes + $(stat -c %s "$f")))
  done
done
# seconds COMMAND...: "wall cpu"
seconds() { /usr/bin/time -f "%e %U %S" -o times "$@" >/dev/null && awk '{print $1, $2 + $3}' times; }
$wine_run "$exe" --version >/dev/null  # the prefix and wineserver, before timing
echo "corpus: ${#corpus[@]} files x $rounds = $bytes bytes, one pack command"
printf '%-4s %-5s %10s %10s %8s %12s %9s\n' run time "host MB/s" "exe MB/s" "exe s" "wine start s" "exe/host"
for ((i = 1; i <= repeat; i++)); do
  th=$(seconds "$host" -f pack "${hargs[@]}")
  ts=$(seconds $wine_run "$exe" --version)
  te=$(seconds $wine_run "$exe" -f pack "${eargs[@]}")
  for ((j = 1; j < ${#hargs[@]}; j += 2)); do
    cmp -s "${hargs[j]}" "${eargs[j]}" || { echo "${eargs[j]} differs from the host build's"; exit 1; }
  done
  echo "$i $bytes $th $te $ts" | awk '{
    for (k = 0; k < 2; k++) {
      h = $2 / $(3 + k) / 1e6; e = $2 / ($(5 + k) - $(7 + k)) / 1e6
      printf "%-4s %-5s %10.2f %10.2f %8.2f %12.2f %9.3f\n", $1, k ? "cpu" : "wall", h, e, $(5 + k), $(7 + k), e / h
    }}' | tee -a ratios
done
for kind in wall cpu; do
  awk -v k=$kind '$2 == k {print $7}' ratios | sort -n |
    awk -v k=$kind '{r[NR] = $1} END {printf "median exe/host (%s): %.3f over %d runs\n", k, r[int((NR + 1) / 2)], NR}'
done
