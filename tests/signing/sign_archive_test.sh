#!/bin/sh
# Signs a self-archive as a vendor would, with a throwaway certificate:
# build, then sign, then verify. The archive and the setup program it
# carries must both verify, and the setup program must come out byte for
# byte as it went in. An archive of another tool, padded by the signer, is
# refused by halvex-pack verify with the reason.
# Usage: sign_archive_test.sh HALVEX_PACK SAMPLE_SETUP_PROGRAM
set -eu
pack=$(realpath "$1") sample=$(realpath "$2")
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
"$pack" extract -q signed.exe -o extracted.exe 2>extract.err
[ ! -s extract.err ] || fail "extract warned: $(cat extract.err)"
cmp setup.exe extracted.exe || fail "the extracted setup program differs"
verify_signature extracted.exe || fail "the extracted setup program no longer verifies"

# The same payload without alignment, as a concatenation would make it:
# signing pads it, and verify names the padding.
"$pack" compress -q setup.exe setup.ex_
image_size=$(( $(stat -c %s unsigned.exe) - $(stat -c %s setup.ex_) - 13 ))
head -c "$image_size" unsigned.exe >concatenated.exe
printf 'Archive sTaRT' >>concatenated.exe
cat setup.ex_ >>concatenated.exe
if [ $(( $(stat -c %s concatenated.exe) % 8 )) -ne 0 ]; then
  sign concatenated.exe padded.exe
  if "$pack" verify padded.exe 2>padded.err; then fail "a padded archive verified"; fi
  grep -q "trailing bytes" padded.err || fail "no reason for the padding: $(cat padded.err)"
fi
echo "signed self-archive: ok"
