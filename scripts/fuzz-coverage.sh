#!/usr/bin/env bash
# Source-based coverage of unpack/, the encoder and the seal reader reached by the fuzz
# targets' corpora: the targets built again with clang's coverage mapping
# (build/fuzz-cov), each corpus input run once, line and branch figures per
# file, for all targets together and for each alone.
#   scripts/fuzz-coverage.sh [CORPORA]   (CORPORA/<target>/; default: the seeds)
set -uo pipefail
cd "$(dirname "$0")/.."

corpora=${1:-tests/fuzz/seeds}
build=build/fuzz-cov
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_COMPILER=clang-14 -DSETUP_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null || exit 1

sources=(unpack/block_decoder.cpp unpack/record_reader.cpp unpack/check_record.cpp unpack/code_tree.cpp
  pack/encode/encoder.cpp pack/media/seal_image.cpp pack/rescue/iso9660.cpp)
profiles=()
objects=()
for target in fuzz_decoder fuzz_records fuzz_roundtrip fuzz_salvage fuzz_seal fuzz_iso; do
  [ -d "$corpora/$target" ] || continue
  binary="$build/tests/fuzz/$target"
  rm -f "$build/$target".profraw
  LLVM_PROFILE_FILE="$build/$target.profraw" "$binary" -runs=0 "$corpora/$target" >"$build/$target.run.log" 2>&1 ||
    { tail -20 "$build/$target.run.log"; exit 1; }
  llvm-profdata-14 merge -sparse "$build/$target.profraw" -o "$build/$target.profdata"
  echo "== $target alone ($(ls "$corpora/$target" | wc -l) inputs)"
  llvm-cov-14 report "$binary" -instr-profile="$build/$target.profdata" "${sources[@]}"
  llvm-cov-14 show "$binary" -instr-profile="$build/$target.profdata" -show-branches=count "${sources[@]}" \
    >"$build/$target.txt"
  profiles+=("$build/$target.profdata")
  objects+=(-object "$binary")
done
llvm-profdata-14 merge -sparse "${profiles[@]}" -o "$build/all.profdata"
echo "== all targets together"
llvm-cov-14 report "${objects[@]:1}" -instr-profile="$build/all.profdata" "${sources[@]}"
# Line by line, with counts: build/fuzz-cov/unpack.txt (each target alone: <target>.txt)
llvm-cov-14 show "${objects[@]:1}" -instr-profile="$build/all.profdata" -show-branches=count "${sources[@]}" \
  >"$build/unpack.txt"
echo "line-by-line counts: $build/unpack.txt"
