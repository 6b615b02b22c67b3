#!/usr/bin/env bash
# Makes the self-archives that the end-to-end tests start: the launcher image,
# the marker and an SZDD payload, joined byte for byte. Starts no Windows
# program, so the build needs no Wine.
# Usage: make_fixtures.sh LAUNCHER_IMAGE SAMPLE_SETUP OUT_DIR
set -euo pipefail
image=$1 sample=$2 out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# mscompress writes NAME_ beside NAME.
compress() { cp "$1" "$work/$2" && mscompress "$work/$2" && echo "$work/$2_"; }

self_archive() {  # OUT PAYLOAD
  { cat "$image"; printf 'Archive sTaRT'; cat "$2"; } > "$out/$1"
}

mkdir -p "$out"
self_archive normal.exe "$(compress "$sample" setup.exe)"

# A setup program with 8 MiB of data behind it, so that the expansion takes
# a while; the data is ignored when it runs.
{ cat "$sample"; head -c 8388608 /dev/zero; } > "$work/big"
self_archive big.exe "$(compress "$work/big" big.exe)"

# Expands fine, but to a file that is no program.
printf 'This text is no program, whatever its name says.\r\n' > "$work/text"
self_archive not-a-program.exe "$(compress "$work/text" text.txt)"

# An SZDD header that names an unknown compression method ('Q' for 'A').
damaged=$(compress "$sample" damaged.exe)
printf 'Q' | dd of="$damaged" bs=1 seek=8 conv=notrunc status=none
self_archive damaged.exe "$damaged"

cp "$image" "$out/no-marker.exe"
# A program to plant where an unquoted path with blanks would lead.
cp "$sample" "$out/decoy.exe"
