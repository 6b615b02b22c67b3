#!/bin/sh
# HALVEX_WINDOWS_SIDE is trusted only as tools/windows-side.sh set it for the
# command it runs: a value leaked into another environment (the old "1", the
# token of a run that has ended, any other file) is refused. Started by the
# runner (--from-runner), the value it was given is trusted.
# Usage: windows_side_test.sh SOURCE_DIR [--from-runner]
set -eu
runner=$1/tools/windows-side.sh
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "${2:-}" = --from-runner ]; then
  "$runner" --inside || fail "the runner's own value is refused: '${HALVEX_WINDOWS_SIDE:-}'"
  echo "windows side: own value trusted"
  exit 0
fi
for leaked in 1 "$1/build/windows-side/token.ended" "$runner"; do
  ! HALVEX_WINDOWS_SIDE=$leaked "$runner" --inside || fail "a leaked value is trusted: $leaked"
done
echo "windows side: leaked values refused"
