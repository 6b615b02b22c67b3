#!/usr/bin/env bash
# A lz32.dll planted beside a program must not be loaded by the platform
# layer, which takes lz32 from the system directory only. Under Wine a DLL
# beside the program is preferred to the built-in one only with the override
# lz32=n,b, so the test sets it; the unsafe by-name load shows that the plant
# is live.
# Usage: planted_lz32_test.sh WINE_RUN LZ32_EXPAND LOAD_BY_NAME PLANTED_DLL
set -euo pipefail
wine_run=$1 expand=$2 load_by_name=$3 planted=$4
work=$(mktemp -d "$(dirname "$expand")/planted.XXXXXX")
trap 'rm -rf "$work"' EXIT

cp "$expand" "$load_by_name" "$work/"
cp "$planted" "$work/lz32.dll"
printf 'the setup program, compressed and expanded again\n' > "$work/original"
(cd "$work" && mscompress original)
export WINEDLLOVERRIDES=lz32=n,b HALVEX_WINEPREFIX=$(dirname "$expand")/../../wineprefix
export HALVEX_PLANT_PROOF="Z:$work/proof"

"$wine_run" "$work/$(basename "$expand")" "Z:$work/original_" "Z:$work/expanded"
cmp "$work/original" "$work/expanded"
if [ -e "$work/proof" ]; then
  echo "FAIL: the planted lz32.dll was loaded by the platform layer" >&2
  exit 1
fi

"$wine_run" "$work/$(basename "$load_by_name")"
if [ ! -e "$work/proof" ]; then
  echo "FAIL: the planted lz32.dll is not live, so the test above proves nothing" >&2
  exit 1
fi
echo "planted lz32.dll ignored; loaded only by the unsafe by-name load"
