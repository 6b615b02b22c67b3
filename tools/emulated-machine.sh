#!/usr/bin/env bash
# Runs one command inside a small emulated x86-64 machine whose kernel runs
# 32-bit programs: for hosts whose kernel does not. The machine boots
# Debian's own kernel (linux-image-amd64) under qemu, mounts this host's root
# over virtio-9p and runs the command there, chrooted, in the same directory,
# with the same environment (less the display), as the same user. Its
# standard output and error come back as they are written, and its exit
# status is this script's.
# Usage: emulated-machine.sh COMMAND [ARGS...]
# A run that outlasts HALVEX_EMULATED_MACHINE_LIMIT seconds (default 5700) is
# stopped and fails with status 124.
# Costs: about 8 s to boot; programs run 10 to 20 times slower than natively.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

# The 9p modules in the order each needs the one before.
modules=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev
         virtio_pci netfs fscache 9pnet 9pnet_virtio 9p)

newest_kernel() {
  local k
  for k in $(ls /boot/vmlinuz-* 2>/dev/null | sort -rV); do
    [ -d "/lib/modules/${k#/boot/vmlinuz-}" ] && { echo "$k"; return; }
  done
  echo "emulated-machine: no kernel with modules under /boot; run tools/setup.sh" >&2
  exit 127
}

# The initramfs: busybox, the modules in their order, and the init
# (emulated-machine-init.sh).
make_initramfs() {  # KERNEL_VERSION OUT
  local root=$2.d m
  rm -rf "$root"
  mkdir -p "$root/bin" "$root/modules"
  cp /bin/busybox "$root/bin/busybox"
  for m in "${modules[@]}"; do
    modinfo -k "$1" -n "$m" | xargs -I{} cp {} "$root/modules/"
  done
  printf '%s\n' "${modules[@]}" >"$root/modules/order"
  cp "$top/tools/emulated-machine-init.sh" "$root/init"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$2.new"
  mv "$2.new" "$2"
  rm -rf "$root"
}

cache=$top/build/emulated-machine
mkdir -p "$cache"
kernel=$(newest_kernel)
initramfs=$cache/initramfs-${kernel#/boot/vmlinuz-}.cpio.gz
(
  flock 9
  [ -s "$initramfs" ] && [ "$initramfs" -nt "$0" ] &&
    [ "$initramfs" -nt "$top/tools/emulated-machine-init.sh" ] ||
    make_initramfs "${kernel#/boot/vmlinuz-}" "$initramfs"
) 9>"$cache/initramfs.lock"

# The job folder lives in the work tree, which the machine shares; /tmp would
# not do, since the machine has its own.
job=$(mktemp -d "$cache/job.XXXXXX")
machine='' follower=''
# On any exit or signal the machine and the follower end before the job
# folder goes: a machine left running would go on writing into the build
# tree and the Wine prefix beside the next run's.
end_run() {
  local pid
  for pid in $machine $follower; do kill "$pid" 2>/dev/null || true; done
  for pid in $machine $follower; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$job"
}
trap end_run EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
{
  echo 'set -u'
  # The caller's environment, less what names this host's display and shell.
  export -p | grep -vE '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|SHLVL|PWD|OLDPWD|_)(=|$)'
  echo "export HALVEX_EMULATED_MACHINE=inside"
  printf 'cd %q\n' "$PWD"
  printf '%q ' "$@"
  printf '>%q 2>&1 </dev/null\n' "$job/output"
  printf 'echo $? >%q\n' "$job/status"
} >"$job/job.sh"
: >"$job/output"

# The guest's run ends by itself after HALVEX_EMULATED_MACHINE_LIMIT seconds,
# by default a little longer than CI's 90 minutes for a whole job: a hung
# guest never blocks the caller for ever. timeout ends qemu when this script
# dies of SIGKILL too, through the parent-death signal.
limit=${HALVEX_EMULATED_MACHINE_LIMIT:-5700}
setpriv --pdeathsig TERM timeout --kill-after=10 "$limit" \
  setpriv --pdeathsig TERM qemu-system-x86_64 \
  -accel tcg,thread=multi -smp "$(nproc)" -m 4096 -cpu qemu64 \
  -display none -monitor none -serial "file:$job/console" -no-reboot -nic none \
  -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 panic=-1 quiet halvex.job=$(printf %s "$job" | od -An -tx1 -v | tr -d ' \n')" \
  -fsdev local,id=hostroot,path=/,security_model=passthrough,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot &
machine=$!
tail -n +1 -f --pid="$machine" "$job/output" &
follower=$!
ran=0
wait "$machine" || ran=$?
wait "$follower" || true
machine='' follower=''

console_tail() {
  echo "emulated-machine: $1; the machine's console said:" >&2
  tail -n 30 "$job/console" >&2
}
if [ "$ran" = 124 ]; then
  console_tail "the guest ran past its limit of $limit s and was stopped"
  exit 124
fi
if [ ! -s "$job/status" ]; then
  console_tail "the command did not finish"
  exit 125
fi
exit "$(cat "$job/status")"
