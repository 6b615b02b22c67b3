#!/bin/sh
# Signs a self-archive as a vendor would, with a throwaway certificate:
# build, then sign, then verify. The archive and the setup program it
# carries must both verify, and the setup program must come out byte for
# byte as it went in. An archive of another tool, padded by the signer, is
# refused by halvex-pack verify with the reason.
# Under Wine the launcher's own pipeline must give the setup program the
# same bytes, signed archive or not, and a certificate entry that does not
# describe a table at the end of the file must change nothing.
# Usage: sign_archive_test.sh HALVEX_PACK SAMPLE_SETUP_PROGRAM LAUNCHER_IMAGE
#                             WINE_RUN LAUNCHER_EXTRACT
set -eu
pack=$(realpath "$1") sample=$(realpath "$2") image=$(realpath "$3")
wine_run=$(realpath "$4") launcher_extract=$(realpath "$5")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem \
  -days 2 -subj "/CN=Halvex throwaway test signer" 2>/dev/null
sign() { osslsigncode sign -certs cert.pem -key key.pem -in "$1" -out "$2" >/dev/null; }
verify_signature() { osslsigncode verify -CAfile cert.pem -in "$1" >/dev/null 2>&1; }

# The setup program is signed itself.
sign "$sample" setup.exe
verify_signature setup.exe || fail "the signed setup program does not verify"

"$pack" build -q setup.exe -o unsigned.exe
[ $(( $(stat -c %s unsigned.exe) % 8 )) -eq 0 ] || fail "built archive not a multiple of 8"
sign unsigned.exe signed.exe
verify_signature signed.exe || fail "osslsigncode does not accept the signed archive"
"$pack" verify signed.exe >verify.out || fail "halvex-pack verify refuses the signed archive"
grep -q "certificate table of" verify.out || fail "verify does not report the table"
"$pack" verify --json signed.exe >verify.json || fail "verify --json refuses the signed archive"
grep -q '"signed": true' verify.json && grep -q '"certificate_table_size": [1-9]' verify.json ||
  fail "verify --json does not report the table: $(cat verify.json)"
"$pack" extract -q signed.exe -o extracted.exe 2>extract.err
[ ! -s extract.err ] || fail "extract warned: $(cat extract.err)"
cmp setup.exe extracted.exe || fail "the extracted setup program differs"
verify_signature extracted.exe || fail "the extracted setup program no longer verifies"

# What the launcher gives the setup program, under Wine.
launcher_gives() {  # ARCHIVE
  rm -f given.exe
  "$wine_run" "$launcher_extract" "Z:$work/$1" "Z:$work/given.exe" ||
    fail "the launcher's pipeline fails on $1"
}
launcher_gives signed.exe
cmp setup.exe given.exe || fail "the launcher gives a different setup program"
verify_signature given.exe || fail "the setup program the launcher gives no longer verifies"
launcher_gives unsigned.exe
cmp setup.exe given.exe || fail "the launcher gives a different setup program when unsigned"

# A certificate entry in the launcher's header that points outside the file,
# or before the marker, is no table at the end of the payload: every byte
# after the marker is still the payload.
entry_offset=$(( $(od -An -tu4 -j60 -N4 unsigned.exe) + 152 ))
# The four bytes of a 32-bit number, little-endian.
le32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
set_certificate_entry() {  # ARCHIVE OFFSET SIZE
  { le32 "$2"; le32 "$3"; } |
    dd of="$1" bs=1 seek="$entry_offset" conv=notrunc status=none
}
size=$(stat -c %s unsigned.exe)
cp unsigned.exe outside.exe
set_certificate_entry outside.exe $(( size - 16 )) 4096
launcher_gives outside.exe
cmp setup.exe given.exe || fail "an entry pointing outside the file changed the payload"
cp unsigned.exe before-marker.exe
set_certificate_entry before-marker.exe 64 $(( size - 64 ))
launcher_gives before-marker.exe
cmp setup.exe given.exe || fail "an entry starting before the marker changed the payload"

# The same payload without alignment, as a concatenation would make it:
# signing pads it, and verify names the padding.
"$pack" compress -q setup.exe setup.ex_
cp "$image" concatenated.exe
printf 'Archive sTaRT' >>concatenated.exe
cat setup.ex_ >>concatenated.exe
if [ $(( $(stat -c %s concatenated.exe) % 8 )) -ne 0 ]; then
  sign concatenated.exe padded.exe
  if "$pack" verify padded.exe 2>padded.err; then fail "a padded archive verified"; fi
  grep -q "trailing bytes" padded.err || fail "no reason for the padding: $(cat padded.err)"
fi
echo "signed self-archive: ok"
