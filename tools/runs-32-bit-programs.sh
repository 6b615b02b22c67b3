#!/usr/bin/env bash
# Succeeds when this host's kernel runs 32-bit x86 programs itself, so that
# Wine (32-bit) runs here directly. HALVEX_EMULATED_MACHINE=1 says no on any
# host, to try the emulated machine. A user-mode emulator registered in
# binfmt_misc for 32-bit x86 ELF programs (qemu-i386 or qemu-i486) would
# answer the probe, but Wine started through it hangs: it counts as no, with
# exit status 2. HALVEX_BINFMT_MISC names another binfmt_misc folder to read.
set -uo pipefail
[ "${HALVEX_EMULATED_MACHINE:-}" = 1 ] && exit 1

# A handler's magic is the ELF header's first bytes in hex: 32-bit (01),
# little-endian (01), and at bytes 18-19 the machine, i386 (0300) or
# i486 (0600).
for handler in "${HALVEX_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}"/*; do
  [ -f "$handler" ] && grep -qx enabled "$handler" 2>/dev/null &&
    grep -qE '^magic 7f454c460101[0-9a-f]{24}0[36]00' "$handler" 2>/dev/null && exit 2
done

# The smallest static i386 program: exit(0) through int 0x80.
# Made in the work tree: /tmp may be mounted noexec.
mkdir -p "$(dirname "$0")/../build"
probe=$(mktemp "$(dirname "$0")/../build/32-bit-probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
