#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, ASan, UBSan) and runs
# each for SECONDS (default 60), one after another, over the corpus kept in
# build/fuzz/runs/NAME from earlier runs.  For each it prints libFuzzer's
# closing line, the runs per second, the coverage and any crash.  Exits
# non-zero on any crash or sanitizer report; the crashing input is in
# build/fuzz/runs/NAME/crashes, and once fixed it goes into
# tests/fuzz/regressions/NAME, where every test run replays it.  TARGETs
# limit the run to those; further libFuzzer options come through
# HALVEX_FUZZ_OPTIONS.
# Usage: tools/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
status=0
while read -r name seeds options; do
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  # shellcheck disable=SC2086  # options are separate words
  tests/fuzz/run_target.sh "build/fuzz/tests/fuzz/fuzz_$name" "$seeds" "build/fuzz/runs/$name" \
    "$seconds" $options ${HALVEX_FUZZ_OPTIONS:-} || status=1
done <build/fuzz/tests/fuzz/targets.txt
exit $status
