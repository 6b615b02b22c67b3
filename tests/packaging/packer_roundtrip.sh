#!/bin/sh
# One installed halvex-pack goes through the everyday job: it builds a
# self-archive of the sample setup program with its built-in launcher image,
# verifies it, and extracts the setup program byte for byte.  Its --version
# names VERSION and the very image installed beside it.
# Usage: packer_roundtrip.sh HALVEX_PACK SAMPLE_SETUP_PROGRAM INSTALLED_IMAGE VERSION
set -eu
pack=$1 sample=$2 image=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$pack" --version >"$work/version" || fail "$pack --version failed"
head -n 1 "$work/version" | grep -qx "halvex-pack $version" ||
  fail "--version does not name $version: $(cat "$work/version")"
size=$(stat -c %s "$image")
hash=$(sha256sum "$image" | cut -d' ' -f1)
grep -q "launcher image: $size bytes, SHA-256 $hash" "$work/version" ||
  fail "--version does not describe the installed image ($size bytes, $hash): $(cat "$work/version")"

"$pack" build -q "$sample" -o "$work/archive.exe" || fail "build failed"
"$pack" verify "$work/archive.exe" >"$work/verify.out" || fail "verify refused the archive"
grep -q "image size:    $size bytes" "$work/verify.out" || fail "the archive does not hold the built-in image"
"$pack" extract -q "$work/archive.exe" -o "$work/setup.exe" || fail "extract failed"
cmp "$sample" "$work/setup.exe" || fail "the extracted setup program differs"
