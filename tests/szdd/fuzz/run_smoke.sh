#!/usr/bin/env bash
# Bounded libFuzzer smoke run of the SZDD expander.
# Usage: run_smoke.sh CLANGXX SOURCE_DIR WORK_DIR SECONDS
set -euo pipefail
clangxx=$1 src=$2 work=$3 seconds=$4
mkdir -p "$work/corpus"
"$clangxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=undefined -I"$src/szdd/include" \
  "$src/tests/szdd/fuzz/fuzz_expand.cpp" "$src/szdd/src/header.cpp" \
  "$src/szdd/src/expand.cpp" "$src/szdd/src/compress.cpp" -o "$work/fuzz_expand"
# Seeds: a small valid stream, one with a match into the blank ring, junk.
printf 'SZDD\x88\xf0\x27\x33A\x00\x05\x00\x00\x00\xffhello' >"$work/corpus/seed1"
printf 'SZDD\x88\xf0\x27\x33A\x00\x09\x00\x00\x00\x01Q\xe0\xf0\xf0\xf2' >"$work/corpus/seed2"
printf 'SZDD\x88\xf0\x27\x33A\x00\xff\xff\xff\xff\x00\x00' >"$work/corpus/seed3"
cd "$work"
exec ./fuzz_expand -max_total_time="$seconds" -max_len=20000 -timeout=10 \
  -rss_limit_mb=1024 -print_final_stats=1 corpus
