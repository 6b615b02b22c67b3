#!/usr/bin/env bash
# Makes the committed seed inputs of the fuzz targets: a minimal PE32
# program, self-archives built from it by halvex-pack, one signed with a
# throwaway certificate, and damaged ones of each kind verify refuses.  Run
# by hand when the archive layout changes; the seeds are committed.
# Usage: make_seeds.sh HALVEX_PACK
set -euo pipefail
pack=$(realpath "$1")
seeds=$(cd "$(dirname "$0")" && pwd)/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

le() {  # VALUE BYTES: VALUE as BYTES bytes, little-endian
  local i
  for ((i = 0; i < $2; i++)); do printf "\\$(printf '%03o' $(($1 >> (8 * i) & 255)))"; done
}
poke() {  # FILE OFFSET VALUE BYTES
  le "$3" "$4" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# Headers in 512 bytes, one 512-byte section: the smallest program that
# check_stub takes.
head -c 1024 /dev/zero >stub.exe
printf 'MZ' | dd of=stub.exe conv=notrunc status=none
poke stub.exe $((0x3C)) $((0x40)) 4
printf 'PE' | dd of=stub.exe bs=1 seek=$((0x40)) conv=notrunc status=none
poke stub.exe $((0x44)) $((0x14C)) 2   # i386
poke stub.exe $((0x46)) 1 2            # one section
poke stub.exe $((0x54)) 224 2          # optional header size
poke stub.exe $((0x56)) $((0x102)) 2   # executable, 32-bit
poke stub.exe $((0x58)) $((0x10B)) 2   # PE32
poke stub.exe $((0x58 + 60)) 512 4     # SizeOfHeaders
poke stub.exe $((0x58 + 92)) 16 4      # NumberOfRvaAndSizes
printf '.text' | dd of=stub.exe bs=1 seek=$((0x58 + 224)) conv=notrunc status=none
poke stub.exe $((0x58 + 224 + 16)) 512 4  # SizeOfRawData
poke stub.exe $((0x58 + 224 + 20)) 512 4  # PointerToRawData
entry=$((0x58 + 128))                   # the certificate entry

{ cat stub.exe; printf 'The setup program, with a run of blanks:%64s and its end.\r\n' ''; } >setup.exe
"$pack" build -q --stub stub.exe setup.exe -o archive.exe
"$pack" compress -q setup.exe setup.ex_
marker() { printf 'Archive '; printf 'sTaRT'; }

openssl req -x509 -newkey rsa:1024 -nodes -keyout key.pem -out cert.pem \
  -days 2 -subj "/CN=Halvex fuzz seed" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -in archive.exe -out signed.exe >/dev/null
# Concatenated without alignment: the signer pads it.
{ cat stub.exe; marker; cat setup.ex_; } >concatenated.exe
osslsigncode sign -certs cert.pem -key key.pem -in concatenated.exe -out padded.exe >/dev/null

size=$(stat -c %s archive.exe)
cp archive.exe entry-outside.exe && poke entry-outside.exe $entry $((size - 16)) 4 &&
  poke entry-outside.exe $((entry + 4)) 4096 4
cp archive.exe entry-before-marker.exe && poke entry-before-marker.exe $entry 64 4 &&
  poke entry-before-marker.exe $((entry + 4)) $((size - 64)) 4
cp archive.exe bad-mode.exe && printf 'Q' | dd of=bad-mode.exe bs=1 seek=$((1024 + 13 + 8)) conv=notrunc status=none
head -c $((size - 7)) archive.exe >truncated.exe
{ cat archive.exe; printf 'junk'; } >trailing.exe
{ cat stub.exe; marker; } >marker-ends.exe
{ head -c 600 stub.exe; marker; tail -c +614 stub.exe; marker; cat setup.ex_; } >marker-in-image.exe

mkdir -p "$seeds/archives" "$seeds/szdd" "$seeds/plain"
cp stub.exe archive.exe signed.exe padded.exe entry-outside.exe entry-before-marker.exe \
  bad-mode.exe truncated.exe trailing.exe marker-ends.exe marker-in-image.exe "$seeds/archives/"
# The expander's: a real payload, a match into the blank ring, a header
# whose size the data never reaches.
cp setup.ex_ "$seeds/szdd/setup.ex_"
printf 'SZDD\x88\xf0\x27\x33A\x00\x09\x00\x00\x00\x01Q\xe0\xf0\xf0\xf2' >"$seeds/szdd/ring-match"
printf 'SZDD\x88\xf0\x27\x33A\x00\xff\xff\xff\xff\x00\x00' >"$seeds/szdd/short"
# The compressor's: a program and text.
cp setup.exe "$seeds/plain/setup.exe"
