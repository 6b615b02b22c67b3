#!/usr/bin/env bash
# Times the extraction pipeline under Wine on a 1 MB and a 50 MB payload
# (made by mscompress, appended to the launcher image behind the marker) and
# prints, next to the time beyond the pipeline's 10 ms pauses, the time that
# Wine's lz32 alone needs to expand the same payload (each as the program
# times itself), whether the interactive pipeline stays within 1.5 times
# that plus 0.6 s, and the time of the release image's whole silent run (/S)
# on that self-archive, which has nothing to wait for, less the same run on
# a tiny payload, which takes the image's own start-up out. The payload is
# no program, so that run ends with the start's error 193 after the same
# extraction and clean-up. Not a test.
# Usage: bench/pipeline_bench.sh [SIZE_IN_MB...]   (default: 1 50)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows

# Payloads and archives are made here, at full speed; only the timings run
# where Windows programs run: here, or inside the emulated machine, with one
# display and one Wine server for the whole run. The figures are ratios
# within one run, so they hold there too.
if ! tools/windows-side.sh --inside; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j2 --target halvex-launcher pipeline-bench lz32-expand >/dev/null
  work=$(mktemp -d "$PWD/$build/pipeline-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  sizes=("$@")
  [ $# -gt 0 ] || sizes=(1 50)
  for size in "${sizes[@]}"; do
    input="$work/payload-$size.bin"
    head -c $((size * 1048576)) <(seq 1 100000000) >"$input"
    mscompress "$input"
    { cat "$build/launcher/halvex-launcher.exe"; printf 'Archive sTaRT'; cat "${input}_"; } >"$work/archive-$size.exe"
  done
  # The release image's own start-up: the same silent run on a tiny payload.
  printf 'no program\n' >"$work/tiny.bin"
  mscompress "$work/tiny.bin"
  { cat "$build/launcher/halvex-launcher.exe"; printf 'Archive sTaRT'; cat "$work/tiny.bin_"; } >"$work/archive-tiny.exe"
  tools/windows-side.sh bench/pipeline_bench.sh "$work" "${sizes[@]}"
  exit
fi
# The timings read and write on the machine's own filesystem. The emulated
# machine reaches the host's through a share, where flushing the 21 MB of
# "setup.ex_" before the expansion took 1 to 2.6 s (this host's own disk:
# 35 ms), a cost lz32 alone, which flushes nothing, never pays.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$1"/. "$work"
shift
# The build's own prefix, also for the archives, which no longer lie under
# the build tree where the prefix is found.
run() { HALVEX_WINEPREFIX=$PWD/$build/wineprefix tools/wine-run.sh "$@"; }
winpath() { echo "Z:${1//\//\\}"; }

# Seconds that one run of a command takes, wall clock.
elapsed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# Whether figure $1 beats the best so far, $2; an empty $2 is none yet.
faster() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(b == "" || a + 0 < b + 0) }'; }

# The smaller of two figures; an empty second one is none yet.
smaller() { if faster "$1" "$2"; then echo "$1"; else echo "$2"; fi; }

# Seconds that a command takes, wall clock, the best of five runs.
seconds() {
  local best=""
  for _ in 1 2 3 4 5; do best=$(smaller "$(elapsed "$@")" "$best"); done
  echo "$best"
}

# The self-archive with /S; its payload is no program, so it ends with 193.
silent_run() {
  local code=0
  run "$1" /S || code=$?
  [ "$code" -eq 193 ] || { echo "silent run ended with $code" >&2; return 1; }
}

# The launcher's own start-up, to take out of the silent run's figure: a GUI
# program that also loads USER32 and ADVAPI32 and starts its setup program.
launcher_startup=$(seconds silent_run "$work/archive-tiny.exe")

for size in "$@"; do
  input="$work/payload-$size.bin"
  mkdir -p "$work/tmp-$size"
  echo "== ${size} MB expanded, $(stat -c %s "${input}_") bytes compressed"
  # The pipeline and lz32 alone in turns, the best of five runs each, so
  # that a machine whose speed drifts during the bench slows both alike. Each
  # line is the program's own timing, with no start-up in it; the first run
  # reads the archive cold, which the best of five leaves out.
  pipeline="" lz32=""
  for _ in 1 2 3 4 5; do
    line=$(run "$build/bench/pipeline-bench.exe" "$(winpath "$work/archive-$size.exe")" "$(winpath "$work/tmp-$size")\\" | tr -d '\r')
    if faster "${line#pipeline }" "${pipeline#pipeline }"; then pipeline=$line; fi
    line=$(run "$build/tests/windows/lz32-expand.exe" "$(winpath "${input}_")" "$(winpath "$work/expanded-$size")" --time | tr -d '\r')
    lz32=$(smaller "$(echo "$line" | awk '{ print $2 }')" "$lz32")
  done
  echo "$pipeline"
  cmp -s "$input" "$work/expanded-$size" || { echo "lz32 expanded wrongly" >&2; exit 1; }
  awk -v t="$lz32" -v p="${pipeline#pipeline }" 'BEGIN {
    printf "lz32 alone %.3f s (LZInit to LZClose, the writes included)\n", t
    bar = 1.5 * t + 0.6
    printf "interactive pipeline %.3f s: %s 1.5 times lz32 alone plus 0.6 s (%.3f s)\n",
           p + 0, (p + 0 <= bar) ? "within" : "OVER", bar }'
  silent=$(seconds silent_run "$work/archive-$size.exe")
  awk -v t="$silent" -v s="$launcher_startup" -v l="$lz32" 'BEGIN {
    if (t - s < 0.005) printf "silent run (/S): too short to tell from the launcher'"'"'s start-up"
    else printf "silent run (/S) %.3f s", t - s
    printf " (%.3f s wall clock less %.3f s of the launcher'"'"'s start-up, a silent run of a tiny payload)", t, s
    if (t - s >= 0.005 && l >= 0.005) printf ", %.2f times lz32 alone", (t - s) / l
    printf "\n" }'
done
