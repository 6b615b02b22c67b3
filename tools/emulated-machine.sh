#!/usr/bin/env bash
# Runs one command inside a small emulated x86-64 machine whose kernel runs
# 32-bit programs: for hosts whose kernel does not. The machine boots
# Debian's own kernel (linux-image-amd64) under qemu, mounts this host's root
# over virtio-9p and runs the command there, chrooted, in the same directory,
# with the same environment (less the display), as the same user. Its
# standard output and error come back as they are written, and its exit
# status is this script's.
# Usage: emulated-machine.sh COMMAND [ARGS...]
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

# The initramfs: busybox, the modules, and an init that mounts the host's
# root, runs the job named on the kernel command line, and powers off.
make_initramfs() {  # KERNEL_VERSION OUT
  local root=$2.d m
  rm -rf "$root"
  mkdir -p "$root/bin" "$root/modules"
  cp /bin/busybox "$root/bin/busybox"
  for m in "${modules[@]}"; do
    modinfo -k "$1" -n "$m" | xargs -I{} cp {} "$root/modules/"
  done
  cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /host /kept
mount -t proc proc /proc
mount -t devtmpfs dev /dev
# What udev would add, and bash's process substitution needs.
ln -s /proc/self/fd /dev/fd
for n in 0:stdin 1:stdout 2:stderr; do ln -s /proc/self/fd/${n%%:*} /dev/${n#*:}; done
for m in MODULES; do insmod /modules/$m.ko* || echo "init: no $m" >&2; done
job=$(sed -n 's/.*halvex\.job=\([^ ]*\).*/\1/p' /proc/cmdline)
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /host
for d in proc sys dev; do mount --rbind /$d /host/$d; done
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs -o mode=1777 tmpfs /host/dev/shm
# Sockets cannot be bound on 9p: /tmp is the machine's own. A job under the
# host's /tmp keeps its folder, bound into the new /tmp at the same path.
mount --bind /host/tmp /kept
mount -t tmpfs -o mode=1777 tmpfs /host/tmp
case $job in
  /tmp/*)
    top=${job%/build/emulated-machine/*}
    mkdir -p "/host$top"
    mount --bind "/kept${top#/tmp}" "/host$top" ;;
esac
chroot /host /bin/bash "$job/job.sh"
sync
poweroff -f
INIT
  sed -i "s/MODULES/${modules[*]}/" "$root/init"
  chmod +x "$root/init"
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
  [ -s "$initramfs" ] && [ "$initramfs" -nt "$0" ] ||
    make_initramfs "${kernel#/boot/vmlinuz-}" "$initramfs"
) 9>"$cache/initramfs.lock"

# The job folder lives in the work tree, which the machine shares; /tmp would
# not do, since the machine has its own.
job=$(mktemp -d "$cache/job.XXXXXX")
trap 'rm -rf "$job"' EXIT
{
  echo 'set -u'
  # The caller's environment, less what names this host's display and shell.
  export -p | grep -vE '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|SHLVL|PWD|OLDPWD|_)(=|$)'
  echo "export HALVEX_EMULATED_MACHINE=inside"
  printf 'cd %q\n' "$PWD"
  printf '%q ' "$@"
  echo ">$job/output 2>&1 </dev/null"
  echo "echo \$? >$job/status"
} >"$job/job.sh"
: >"$job/output"

qemu-system-x86_64 \
  -accel tcg,thread=multi -smp "$(nproc)" -m 4096 -cpu qemu64 \
  -display none -monitor none -serial "file:$job/console" -no-reboot -nic none \
  -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 panic=-1 quiet halvex.job=$job" \
  -fsdev local,id=hostroot,path=/,security_model=passthrough,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot &
machine=$!
tail -n +1 -f --pid=$machine "$job/output" &
follower=$!
wait $machine || true
wait $follower || true

if [ ! -s "$job/status" ]; then
  echo "emulated-machine: the command did not finish; the machine's console said:" >&2
  tail -n 30 "$job/console" >&2
  exit 125
fi
exit "$(cat "$job/status")"
