#!/usr/bin/env bash
# The signed self-archive of the end-to-end tests, as a vendor makes it: a
# signed setup program, built into an archive by halvex-pack (the Windows
# build, under Wine) and then signed itself, with a throwaway certificate.
# Both verify here, so a setup program that comes out byte for byte as
# signed-setup.exe still verifies too; cert.pem stays to verify it again.
# Run by the tests as their fixture, since it starts a Windows program.
# Usage: make_signed_archive.sh LAUNCHER_IMAGE SAMPLE_SETUP OUT_DIR HALVEX_PACK WINE_RUN
set -euo pipefail
image=$1 sample=$2 out=$3 pack=$4 wine_run=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" \
  -out "$out/cert.pem" -days 3650 -subj "/CN=Halvex throwaway test signer" \
  2>/dev/null
sign() {  # IN OUT
  rm -f "$2"
  osslsigncode sign -certs "$out/cert.pem" -key "$work/key.pem" -in "$1" \
    -out "$2" >/dev/null
  osslsigncode verify -CAfile "$out/cert.pem" -in "$2" >/dev/null ||
    { echo "make_signed_archive: $2 does not verify" >&2; exit 1; }
}
sign "$sample" "$out/signed-setup.exe"
"$wine_run" "$pack" build -q --stub "Z:$image" "Z:$out/signed-setup.exe" \
  -o "Z:$work/built.exe"
sign "$work/built.exe" "$out/signed.exe"
