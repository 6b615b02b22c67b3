#!/usr/bin/env bash
# Builds everything and runs every test. The host build's tests that start
# no Windows program run here, at full speed; the Windows build's tests and
# the host tests labelled wine run where Windows programs run
# (tools/windows-side.sh: here, or inside the emulated machine on a host
# whose kernel runs no 32-bit programs). Arguments go to every ctest call.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every suite runs even when one fails; the result fails if any did.
status=0
if tools/windows-side.sh --inside; then
  ctest --preset windows "$@" || status=1
  ctest --preset host -L wine "$@" || status=1
  exit $status
fi

bash tools/setup.sh
cmake --preset windows
cmake --build --preset windows -j2
cmake --preset host
cmake --build --preset host -j2

ctest --preset host -LE wine "$@" || status=1
tools/windows-side.sh tools/test.sh "$@" || status=1
exit $status
