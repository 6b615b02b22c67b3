#!/usr/bin/env bash
# Runs halvex-pack and its peers side by side, whole process against whole
# process, and prints one table:
#   size:     halvex-pack compress vs mscompress vs the cost model's optimum
#   compress: MB/s of halvex-pack vs mscompress, peak memory of halvex-pack
#   expand:   MB/s of halvex-pack expand vs libmspack (file to file) vs msexpand
# Usage: bench/szdd/compare_peers.sh [BUILD_DIR] [FILE...]
# BUILD_DIR defaults to build/host; the files default to a 1 MB and a 2.6 MB
# PE file from wine32, a 13 MB one, and 1 MB of long runs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/host}" && pwd)
shift || true
pack=$build/packer/halvex-pack
mspack=$build/bench/szdd/szdd-mspack-expand
for tool in "$pack" "$mspack"; do
  [ -x "$tool" ] || { echo "missing $tool: build the host preset first" >&2; exit 1; }
done
for tool in mscompress msexpand; do
  command -v $tool >/dev/null || { echo "missing $tool (Debian package mscompress)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wine=/usr/lib/i386-linux-gnu/wine/i386-windows
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=("$wine/oledb32.dll" "$wine/comdlg32.dll" "$wine/shell32.dll")
  # 1 MB of long runs and repeats.
  awk 'BEGIN { while (n < 1048576) { s = ""; c = sprintf("%c", 65 + i % 3);
        for (k = 20 + i % 300; k > 0; k--) s = s c; s = s "entry " (i % 97) ";";
        printf "%s", s; n += length(s); i++ } }' >"$work/runs-1MB"
  files+=("$work/runs-1MB")
fi

now() { date +%s%N; }
# best of N runs, in seconds; the command's output is discarded
best_time() {
  local n=$1 best=
  shift
  for _ in $(seq "$n"); do
    local t0 t1
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    local d=$(( t1 - t0 ))
    if [ -z "$best" ] || [ $d -lt "$best" ]; then best=$d; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.4f", ns / 1e9 }'
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }

printf '%-14s %9s | %9s %9s %9s %6s | %8s %8s %6s %7s | %8s %8s %8s\n' \
  file bytes halvex optimum mscomp "vs ms" \
  "halvex" "mscomp" speedx "peak/in" "expand" "mspack" msexpand
printf '%-14s %9s | %9s %9s %9s %6s | %8s %8s %6s %7s | %8s %8s %8s\n' \
  "" "" "size" "size" "size" "%" "MB/s" "MB/s" "" "" "MB/s" "MB/s" "MB/s"
for f in "${files[@]}"; do
  name=$(basename "$f")
  [ "$f" -ef "$work/$name" ] || cp "$f" "$work/$name"
  in=$(stat -c %s "$f")
  # our compressor, with its cost model's optimum
  stats=$("$pack" compress --stats -q "$work/$name" "$work/$name.hx")
  ours=$(stat -c %s "$work/$name.hx")
  optimum=$(sed -n 's/.*optimum of the cost model: \([0-9]*\) bytes.*/\1/p' <<<"$stats")
  t_ours=$(best_time 5 "$pack" compress -q "$work/$name" "$work/$name.hx")
  peak=$(peak_kb "$pack" compress -q "$work/$name" "$work/$name.hx")
  base=$(peak_kb "$pack" --help)
  # mscompress writes NAME_ beside its input
  t_ms=$(best_time 3 sh -c 'rm -f "$1_"; exec mscompress "$1"' _ "$work/$name")
  theirs=$(stat -c %s "$work/${name}_")
  # expansion, file to file
  t_exp=$(best_time 5 "$pack" expand -q "$work/$name.hx" "$work/$name.out")
  cmp -s "$work/$name.out" "$f" || echo "MISMATCH: halvex-pack expand $name" >&2
  t_msp=$(best_time 5 "$mspack" "$work/$name.hx" "$work/$name.msp")
  cmp -s "$work/$name.msp" "$f" || echo "MISMATCH: libmspack $name" >&2
  t_mse=$(best_time 1 sh -c 'msexpand <"$1" >"$2"' _ "$work/$name.hx" "$work/$name.mse")
  cmp -s "$work/$name.mse" "$f" || echo "MISMATCH: msexpand $name" >&2
  printf '%-14s %9d | %9d %9d %9d %6s | %8s %8s %6s %7s | %8s %8s %8s\n' \
    "${name:0:14}" "$in" "$ours" "$optimum" "$theirs" \
    "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%+.1f", 100 * (a - b) / b }')" \
    "$(mbps "$in" "$t_ours")" "$(mbps "$in" "$t_ms")" \
    "$(awk -v a="$t_ms" -v b="$t_ours" 'BEGIN { printf "%.1f", a / b }')" \
    "$(awk -v p="$peak" -v z="$base" -v i="$in" 'BEGIN { printf "%.2f", (p - z) * 1024 / i }')" \
    "$(mbps "$in" "$t_exp")" "$(mbps "$in" "$t_msp")" "$(mbps "$in" "$t_mse")"
  [ "$ours" = "$optimum" ] || echo "NOT OPTIMAL: $name: $ours bytes, optimum $optimum" >&2
  rm -f "$work/$name"*
done
echo
echo "vs ms: size of halvex-pack's output against mscompress's; speedx: mscompress time / halvex-pack time"
echo "peak/in: halvex-pack compress's peak RSS above that of 'halvex-pack --help', divided by the input size"
