#!/bin/sh
# The 32-bit probe reads each binfmt_misc folder below as the kernel shows
# it: a user-mode emulator registered for i386 or i486 ELF programs answers
# "no, through an emulator" (status 2); a disabled one, one for other
# programs or none leaves the answer to the probe program.
# Usage: runs_32_bit_programs_test.sh PROBE
set -eu
probe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A handler as /proc/sys/fs/binfmt_misc/NAME shows it.
handler() {  # FOLDER NAME STATE INTERPRETER MAGIC MASK
  mkdir -p "$work/$1"
  printf '%s\ninterpreter %s\nflags: OCF\noffset 0\nmagic %s\nmask %s\n' "$3" "$4" "$5" "$6" \
    >"$work/$1/$2"
  echo enabled >"$work/$1/status"
}
i386=7f454c4601010100000000000000000002000300
i486=7f454c4601010100000000000000000002000600
amd64=7f454c4602010100000000000000000002003e00
mask=fffffffffffefe00fffffffffffffffffeffffff
# What Debian 12's qemu-user-static registers; older releases mask one more bit.
handler i386 qemu-i386 enabled /usr/libexec/qemu-binfmt/i386-binfmt-P "$i386" "$mask"
handler i486 qemu-i486 enabled /usr/bin/qemu-i486-static "$i486" fffffffffffefefcfffffffffffffffffeffffff
handler disabled qemu-i386 disabled /usr/bin/qemu-i386-static "$i386" "$mask"
handler amd64 qemu-x86_64 enabled /usr/bin/qemu-x86_64-static "$amd64" "$mask"
mkdir "$work/empty"

for case in i386:2 i486:2 disabled:other amd64:other empty:other; do
  folder=${case%%:*} expected=${case#*:}
  status=0
  env -u HALVEX_EMULATED_MACHINE HALVEX_BINFMT_MISC="$work/$folder" "$probe" || status=$?
  case $expected in
    2) [ "$status" = 2 ] || fail "$folder: status $status, not 2 (an emulator)" ;;
    other) [ "$status" != 2 ] || fail "$folder: taken for an emulator" ;;
  esac
done
echo "32-bit probe: ok"
