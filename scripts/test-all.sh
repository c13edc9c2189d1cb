#!/usr/bin/env bash
# Runs every test of the project on this machine, installing what is missing:
#   host       format core, encoder, setuppack (native g++, GoogleTest)
#   host-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz       libFuzzer targets for a short fixed time (clang 14)
#   win64      the x86-64 build of setup.exe's sources and setuppack.exe, tests under wine64
#   win32      the product setup.exe, tests under Wine with the 32-bit loader
#              under QEMU user-mode emulation
#   packages   the release packages (scripts/make-packages.sh), checked
# Before the presets, the C++ sources are checked against .clang-format
# (scripts/check-format.sh).
# Usage: scripts/test-all.sh [PRESET...]   (default: all of the above, in order)
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(host host-asan fuzz win64 win32)
jobs=$(nproc)

passed=0
failed=0
failures=()
echo "=== format"
if bash scripts/check-format.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  failures+=(format)
fi
run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build "build/$preset" -j"$jobs" >"build/$preset.build.log" 2>&1 || { tail -40 "build/$preset.build.log"; return 1; }
  echo "=== $preset: test"
  ctest --test-dir "build/$preset" --output-on-failure --timeout 900 </dev/null || return 1
  if [ "$preset" = win32 ]; then
    # The product's imports, string table and size, in the log.
    bash tests/win/launcher/check_setup_exe.sh i686-w64-mingw32-objdump i686-w64-mingw32-windres \
      build/win32/launcher/setup.exe
  fi
}

for preset in "${presets[@]}"; do
  [ "$preset" = packages ] && continue
  # The Windows tests pack their media with the host build of setuppack, and
  # win64 runs the host tests of setuppack against setuppack.exe.
  case $preset in
    win32|win64) [ -x build/host/pack/setuppack ] && [ -x build/host/tests/host/host_tests ] ||
      run_preset host >/dev/null ;;
  esac
  if run_preset "$preset"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$preset")
  fi
done

# The release packages, made from the trees built above (or the preset
# "packages" alone): each one unpacked makes the same media as the build.
if [ $# -eq 0 ] || [[ " ${presets[*]} " == *" packages "* ]]; then
  echo "=== packages"
  if bash scripts/make-packages.sh; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=(packages)
  fi
fi

scripts/wine-run.sh --stop >/dev/null 2>&1 || true
echo
[ $failed -eq 0 ] || echo "failed: ${failures[*]}"
echo "checks: $passed passed, $failed failed"
[ $failed -eq 0 ]
