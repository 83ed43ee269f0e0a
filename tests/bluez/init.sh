#!/bin/busybox sh
# The guest's first process: reaches the host's root over 9p, read-only, with its own
# /tmp, /run and /var/lib/bluetooth, and hands over to the case runner.
/bin/busybox mkdir -p /proc /sys /dev /newroot /bin
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in $(cat /modules/order); do insmod "/modules/$module.ko"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /newroot || { echo "guest: no root"; poweroff -f; }
for folder in tmp run var/lib/bluetooth; do mount -t tmpfs tmpfs "/newroot/$folder"; done
mount -t devtmpfs dev /newroot/dev
mkdir -p /newroot/tmp/share
mount -t 9p -o trans=virtio,version=9p2000.L share /newroot/tmp/share
guest=$(sed -n 's/.*qz\.guest=\([^ ]*\).*/\1/p' /proc/cmdline)
exec switch_root /newroot /bin/bash "/tmp${guest}"
