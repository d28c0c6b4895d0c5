#!/usr/bin/env bash
# Builds the initramfs of the end-to-end test's virtual machine: busybox, the kernel's USB host
# controller modules, the udev daemon and the project's udev rule, the guest program with the
# shared libraries it loads
# (libzv.so, libusb, libudev, libstdc++... copied as ldd finds them; Debian ships no static
# libudev to link libusb statically with) and the init script.
# Usage: e2e/vm/make-initramfs.sh GUEST_SYSTEM_DIR GUEST_PROGRAM OUTPUT
set -euo pipefail

system=$1
program=$2
output=$3
here=$(cd "$(dirname "$0")" && pwd)
rule="$here/../../udev/60-zv-hlm25.rules"

# Loaded in this order by the init script.
modules=(common/usb-common core/usbcore host/xhci-hcd host/xhci-pci)
applets=(sh mount insmod cat echo sleep poweroff dmesg grep tail cut timeout mkdir cp sed stat printf)

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
chmod 755 "$staging" # the root directory of the guest, which ordinary users must enter
mkdir -p "$staging"/{bin,proc,sys,dev,run,tmp,modules,lib/zv,lib64,lib/systemd,rules}

cp /bin/busybox "$staging/bin/busybox"
for applet in "${applets[@]}"; do
    ln -s busybox "$staging/bin/$applet"
done

usb=$(echo "$system"/root/lib/modules/*/kernel/drivers/usb)
: >"$staging/modules/order"
for module in "${modules[@]}"; do
    cp "$usb/$module.ko" "$staging/modules/"
    basename "$module" >>"$staging/modules/order"
done

cp "$system/root/bin/udevadm" "$staging/bin/udevadm"
ln -s /bin/udevadm "$staging/lib/systemd/systemd-udevd"
cp "$program" "$staging/bin/zv-e2e-guest"
cp "$rule" "$staging/rules/"

# Shared libraries go to one directory on the library path; the loader where the programs
# expect it.
for binary in "$program" "$system/root/bin/udevadm"; do
    if ldd "$binary" | grep -q 'not found'; then
        echo "make-initramfs: libraries of $binary missing on this machine:" >&2
        ldd "$binary" | grep 'not found' >&2
        exit 1
    fi
    for library in $(ldd "$binary" | grep -oE '/[^ ]+'); do
        case "$library" in
        */ld-linux*) cp -L "$library" "$staging/lib64/" ;;
        *) cp -L "$library" "$staging/lib/zv/" ;;
        esac
    done
done

cp "$here/guest-init.sh" "$staging/init"
chmod +x "$staging/init"
(cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$output"
