#!/usr/bin/env bash
# Makes the self-archives that the end-to-end tests start: the launcher image,
# the marker and an SZDD payload, joined byte for byte; and a signed one, as a
# vendor makes it with halvex-pack and osslsigncode.
# Usage: make_fixtures.sh LAUNCHER_IMAGE SAMPLE_SETUP OUT_DIR HALVEX_PACK WINE_RUN
set -euo pipefail
image=$1 sample=$2 out=$3 pack=$4 wine_run=$5
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

# A signed setup program in an archive built by halvex-pack (the Windows
# build, under Wine) and then signed itself, with a throwaway certificate.
# Both verify here, so a setup program that comes out byte for byte as
# signed-setup.exe still verifies too; cert.pem stays to verify it again.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" \
  -out "$out/cert.pem" -days 3650 -subj "/CN=Halvex throwaway test signer" \
  2>/dev/null
sign() {  # IN OUT
  rm -f "$2"
  osslsigncode sign -certs "$out/cert.pem" -key "$work/key.pem" -in "$1" \
    -out "$2" >/dev/null
  osslsigncode verify -CAfile "$out/cert.pem" -in "$2" >/dev/null ||
    { echo "make_fixtures: $2 does not verify" >&2; exit 1; }
}
sign "$sample" "$out/signed-setup.exe"
"$wine_run" "$pack" build -q --stub "Z:$image" "Z:$out/signed-setup.exe" \
  -o "Z:$work/built.exe"
sign "$work/built.exe" "$out/signed.exe"
