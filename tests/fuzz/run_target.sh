#!/usr/bin/env bash
# Runs one libFuzzer target for SECONDS over a working corpus, the seeds
# (a folder under seeds/) and the inputs that once crashed it
# (regressions/NAME), and prints libFuzzer's closing line, the runs per
# second, the coverage and any crash (its input is kept in WORK_DIR/crashes).
# With --replay it runs only the seeds and regressions, each once.  Exits
# non-zero on a crash or a sanitizer report.
# Usage: run_target.sh BINARY SEEDS WORK_DIR SECONDS [LIBFUZZER_OPTION...]
#        run_target.sh --replay BINARY SEEDS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
replay=false
if [ "$1" = --replay ]; then replay=true; shift; fi
bin=$1 seeds=$here/seeds/$2
name=$(basename "$bin")
name=${name#fuzz_}
inputs=("$seeds")
[ -d "$here/regressions/$name" ] && inputs+=("$here/regressions/$name")

if $replay; then
  mapfile -t files < <(find "${inputs[@]}" -type f | sort)
  exec "$bin" "${files[@]}"
fi

work=$3 seconds=$4
shift 4
mkdir -p "$work/corpus" "$work/crashes"
log=$work/log
status=0
"$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/crashes/" "$@" "$work/corpus" "${inputs[@]}" >"$log" 2>&1 ||
  status=$?
if [ "$status" -eq 0 ] && grep -Eq '^==[0-9]+==ERROR|^SUMMARY: |runtime error:|deadly signal' "$log"; then
  status=1
fi

done_line=$(grep -E '^Done [0-9]+ runs in' "$log" || echo "no closing line")
runs_per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+' || true)
echo "$name: $done_line"
echo "$name: ${runs_per_second:-?} runs/s, ${coverage:-no coverage line}"
if [ "$status" -ne 0 ]; then
  echo "$name: CRASH (exit $status), log $log"
  grep -E '==[0-9]+==ERROR|^SUMMARY: |runtime error:|deadly signal|Test unit written to' "$log" |
    sed "s/^/$name:   /" | head -n 20
fi
exit "$status"
