#!/usr/bin/env bash
# Makes the SZDD files that the LZ expansion tests read: real binaries of a
# few MB and an exact multiple of 65,536 bytes (taken from mingw-w64's own
# libraries, so PE code), compressed by Debian's mscompress.
# Usage: make_lz_fixtures.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
# The first 20 by name, taken without `head` in the pipe: under pipefail a
# reader that stops early can kill the writer with SIGPIPE and fail the build.
mapfile -t sources < <(find /usr/i686-w64-mingw32/lib -maxdepth 1 -name '*.a' -size +100k | sort)
cat "${sources[@]:0:20}" > sources.tmp
head -c 3000000 sources.tmp > several-megabytes.bin
head -c $((65536 * 5)) sources.tmp > exact-pieces.bin
rm sources.tmp
for file in several-megabytes.bin exact-pieces.bin; do
  rm -f "${file}_"
  mscompress "$file"
done
