#!/usr/bin/env bash
# Builds everything and runs every test: the Windows build's tests under Wine
# (on one virtual display for the whole run when none is set), then the host
# build's tests, which use the Windows build's launcher image and tools.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
[ -n "${DISPLAY:-}" ] || exec tools/virtual-display.sh tools/test.sh "$@"

cmake --preset windows
cmake --build --preset windows -j2
cmake --preset host
cmake --build --preset host -j2
tools/wine-run.sh --serve build/windows
trap 'tools/wine-run.sh --stop build/windows' EXIT

# Both suites run even when the first fails; the result fails if either did.
status=0
ctest --preset windows "$@" || status=1
ctest --preset host "$@" || status=1
exit $status
