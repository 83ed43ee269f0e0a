#!/bin/bash
# Boots a small qemu guest over this machine's own root file system (read-only) and runs
# guest.sh in it: the real bluetoothd with two emulated LE controllers, one advertising
# what a set-up module would, qzconfig listening on the other. Each case's verdict comes
# back through a shared folder.
#
#   run.sh QZCONFIG [CASES]
#
# Exit 0 when every case came out as expected, 1 when one did not, 77 (skipped) when the
# guest cannot start here, saying why.
set -u
here=$(cd "$(dirname "$0")" && pwd)
qzconfig=$(readlink -f "$1")
cases=$(readlink -f "${2:-$here/cases.txt}")

skip() { echo "real BlueZ: skipped: $*"; exit 77; }

kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -1)
[ -n "$kernel" ] || skip "no kernel in /boot (the package linux-image-amd64)"
release=${kernel#/boot/vmlinuz-}
[ -d "/lib/modules/$release" ] || skip "no modules for $release in /lib/modules"
for tool in qemu-system-x86_64 busybox bluetoothd btvirt hcitool dbus-daemon; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || [ -x "/usr/libexec/bluetooth/$tool" ] \
        || skip "no $tool (see build.sh)"
done
[ -x "$qzconfig" ] || skip "no qzconfig at $1"

work=$(mktemp -d /tmp/qz-bluez-XXXXXX)
trap '[ -n "${QZ_KEEP_GUEST:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$work/initramfs/bin" "$work/initramfs/modules" "$work/share/results"

# The initramfs: busybox, and the modules that reach the host's root over virtio 9p.
cp "$(command -v busybox)" "$work/initramfs/bin/busybox"
declare -A loaded=()
order=()
add_module() {
    local name=$1 dependency
    [ -n "${loaded[$name]:-}" ] && return
    loaded[$name]=1
    for dependency in $(modinfo -k "$release" -F depends "$name" 2>/dev/null | tr ',' ' '); do
        add_module "$dependency"
    done
    local file
    file=$(modinfo -k "$release" -n "$name" 2>/dev/null) || return
    case "$file" in /*) ;; *) return ;; esac # built in
    case "$file" in
    *.xz) xz -dc "$file" >"$work/initramfs/modules/$name.ko" ;;
    *.zst) zstd -qdc "$file" >"$work/initramfs/modules/$name.ko" ;;
    *) cp "$file" "$work/initramfs/modules/$name.ko" ;;
    esac
    order+=("$name")
}
for module in virtio_pci 9pnet_virtio 9p; do add_module "$module"; done
printf '%s\n' "${order[@]}" >"$work/initramfs/modules/order"
cp "$here/init.sh" "$work/initramfs/init"
chmod +x "$work/initramfs/init"
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

cp "$cases" "$work/share/cases.txt"
cp "${QZ_GUEST_SCRIPT:-$here/guest.sh}" "$work/share/guest.sh"
ln -s "$qzconfig" "$work/share/qzconfig" 2>/dev/null
cp "$qzconfig" "$work/share/qzconfig-bin"

started=$(date +%s)
timeout 900 qemu-system-x86_64 -accel tcg -smp 1 -m 1024 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 qz.guest=/share/guest.sh" \
    -fsdev local,id=root,path=/,security_model=none,readonly=on \
    -device virtio-9p-pci,fsdev=root,mount_tag=hostroot \
    -fsdev local,id=share,path="$work/share",security_model=none \
    -device virtio-9p-pci,fsdev=share,mount_tag=share \
    >"$work/console.log" 2>&1
echo "real BlueZ: the guest ran for $(($(date +%s) - started)) s"

if [ ! -f "$work/share/results/done" ]; then
    echo "real BlueZ: the guest did not finish; its console:"
    tail -n 60 "$work/console.log"
    exit 1
fi
cat "$work/share/results/summary"
grep -q '^FAIL' "$work/share/results/summary" && exit 1
exit 0
