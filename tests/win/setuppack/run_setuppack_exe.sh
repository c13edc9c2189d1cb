#!/usr/bin/env bash
# setuppack.exe ($SETUPPACK_EXE) started as the host tests start setuppack:
# under wine64, in the current folder, with this script's standard input.
exec "$(dirname "$0")/../../../scripts/wine-run.sh" --win64 --stdin "$SETUPPACK_EXE" "$@"
