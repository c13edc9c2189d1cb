#!/usr/bin/env bash
# A long fuzz run: each target for RUNS inputs (default 2,000,000), two at a
# time, from a fresh copy of its seeds, then the coverage it reached
# (scripts/fuzz-coverage.sh over the final corpora).
#   scripts/fuzz-long.sh [RUNS [TARGET...]]
# Logs, corpora and findings go to build/fuzz-long/.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=${1:-2000000}
shift || true
targets=("$@")
# The round trip, the slowest, first.
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_roundtrip fuzz_decoder fuzz_records fuzz_salvage fuzz_seal fuzz_iso fuzz_fat fuzz_raw_sectors)

cmake --preset fuzz >/dev/null && cmake --build build/fuzz -j2 >/dev/null || exit 1
out=build/fuzz-long
mkdir -p "$out"

run_one() {
  local target=$1 name flags_line flags=()
  # The flags the test command gives the target, and its dictionary.
  read -r name flags_line < <(grep "^$target " tests/fuzz/target_flags.txt)
  read -r -a flags <<<"$flags_line"
  [ -f "tests/fuzz/$target.dict" ] && flags+=(-dict="tests/fuzz/$target.dict")
  rm -rf "$out/corpus/$target" "$out/findings/$target"
  mkdir -p "$out/corpus/$target" "$out/findings/$target"
  cp tests/fuzz/seeds/"$target"/* "$out/corpus/$target/"
  {
    echo "start: $(date -u +%FT%TZ) $(uptime)"
    echo "flags: ${flags[*]}"
    "build/fuzz/tests/fuzz/$target" "$out/corpus/$target" -runs="$runs" -rss_limit_mb=2048 "${flags[@]}" \
      -print_final_stats=1 -artifact_prefix="$out/findings/$target/" 2>&1
    echo "exit: $?"
    echo "end: $(date -u +%FT%TZ) $(uptime)"
  } >"$out/$target.log"
  echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$out/$target.log" | tail -1)"
}

# Two at a time (the machine has two cores), the next starting as soon as
# one ends.
for target in "${targets[@]}"; do
  [ "$(jobs -rp | wc -l)" -ge 2 ] && wait -n
  run_one "$target" &
done
wait
for target in "${targets[@]}"; do
  grep -E 'stat::|^exit|^start|^flags|^end' "$out/$target.log" | sed "s/^/$target: /"
done

bash scripts/fuzz-coverage.sh "$out/corpus"
