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
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_roundtrip fuzz_decoder fuzz_records)
declare -A max_len=([fuzz_decoder]=70000 [fuzz_records]=200000 [fuzz_roundtrip]=16384)

cmake --preset fuzz >/dev/null && cmake --build build/fuzz -j2 >/dev/null || exit 1
out=build/fuzz-long
mkdir -p "$out"

run_one() {
  local target=$1 extra=()
  # As the test command runs them (tests/fuzz/CMakeLists.txt).
  [ "$target" = fuzz_records ] && extra=(-dict=tests/fuzz/fuzz_records.dict)
  [ "$target" = fuzz_roundtrip ] && extra=(-entropic_scale_per_exec_time=1)
  rm -rf "$out/corpus/$target" "$out/findings/$target"
  mkdir -p "$out/corpus/$target" "$out/findings/$target"
  cp tests/fuzz/seeds/"$target"/* "$out/corpus/$target/"
  {
    echo "start: $(date -u +%FT%TZ) $(uptime)"
    "build/fuzz/tests/fuzz/$target" "$out/corpus/$target" -runs="$runs" -max_len="${max_len[$target]}" \
      -rss_limit_mb=2048 "${extra[@]}" -print_final_stats=1 -artifact_prefix="$out/findings/$target/" 2>&1
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
  grep -E 'stat::|^exit|^start|^end' "$out/$target.log" | sed "s/^/$target: /"
done

bash scripts/fuzz-coverage.sh "$out/corpus"
