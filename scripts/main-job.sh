#!/usr/bin/env bash
# The main job, on a fresh machine: installs what is missing, builds setuppack
# and the 32-bit setup.exe, packs the sample installer and script into media
# with setuppack, runs that setup.exe under Wine in a virtual X display, then
# does the same with one single-file program (setuppack media --single-file),
# and prints what happened (scripts/wine-demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)
echo "== building setuppack (host) and setup.exe (win32)"
cmake --preset host >/dev/null
cmake --build build/host -j"$jobs" --target setuppack >/dev/null
cmake --preset win32 >/dev/null
cmake --build build/win32 -j"$jobs" --target setup stand_in_installer >/dev/null
ls -l build/win32/launcher/setup.exe
echo
exec bash scripts/wine-demo.sh --win32 "$@"
