#!/bin/busybox sh
# shellcheck shell=dash
# The emulated machine's init (tools/emulated-machine.sh puts it in the
# initramfs beside busybox and the 9p modules): mounts the host's root, runs
# the job whose folder the kernel command line names, and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /host /kept
mount -t proc proc /proc
mount -t devtmpfs dev /dev
# What udev would add, and bash's process substitution needs.
ln -s /proc/self/fd /dev/fd
for n in 0:stdin 1:stdout 2:stderr; do ln -s /proc/self/fd/${n%%:*} /dev/${n#*:}; done
while read -r m; do insmod /modules/"$m".ko* || echo "init: no $m" >&2; done </modules/order

# The job folder comes in hex (halvex.job=2f746d70...), so that no blank or
# quote in its path can split the command line.
hex=$(sed -n 's/.*halvex\.job=\([0-9a-f]*\).*/\1/p' /proc/cmdline)
# shellcheck disable=SC2059  # the format is nothing but \x escapes
job=$(printf "$(echo "$hex" | sed 's/../\\x&/g')")

mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /host
for d in proc sys dev; do mount --rbind /$d /host/$d; done
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs -o mode=1777 tmpfs /host/dev/shm
# Sockets cannot be bound on 9p: /tmp is the machine's own. A job under the
# host's /tmp keeps its checkout, bound into the new /tmp at the same path.
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
