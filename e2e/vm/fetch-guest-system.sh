#!/usr/bin/env bash
# Fetches the parts of the end-to-end test's virtual machine that come from Debian: the kernel
# image package that linux-image-amd64 depends on (the kernel and its USB modules) and the udev
# package (its daemon, which tells libusb about detectors plugged in later). Each package is
# downloaded with apt-get and unpacked into DIR with dpkg-deb; nothing is installed. The result
# stays in DIR: a later run fetches nothing.
# Usage: e2e/vm/fetch-guest-system.sh DIR
# Exit status: 0 ready, 77 cannot fetch (the reason on standard error), 1 anything else.
set -euo pipefail

dir=$1
root="$dir/root"
[ -f "$dir/ready" ] && exit 0

skip() {
    echo "fetch-guest-system: $*" >&2
    exit 77
}

# apt-get download drops privileges to _apt, which cannot write into our directory.
apt_options=()
[ "$(id -u)" -eq 0 ] && apt_options=(-o APT::Sandbox::User=root)

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends:/ { print $2; exit }'
}

package=$(kernel_package)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq || true
    package=$(kernel_package)
fi
[ -n "$package" ] || skip "apt knows no linux-image-amd64 (run apt-get update as root)"

rm -rf "$dir" && mkdir -p "$root" "$dir/download"
fetch() { # package, then the members to unpack
    local name=$1
    shift
    (cd "$dir/download" && apt-get download -q "${apt_options[@]}" "$name" >/dev/null 2>&1) ||
        skip "cannot download $name with apt-get"
    dpkg-deb --fsys-tarfile "$dir"/download/"${name}"_*.deb |
        tar -x -C "$root" --wildcards "$@"
}
fetch "$package" './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/*'
fetch udev './bin/udevadm'
rm -rf "$dir/download"

# The uncompressed kernel boots directly (PVH), faster under emulation than the compressed one;
# when it cannot be unpacked the compressed image boots instead.
vmlinuz=$(ls "$root"/boot/vmlinuz-*)
offset=$(LC_ALL=C grep -abo -m1 $'\xfd7zXZ' "$vmlinuz" | head -1 | cut -d: -f1 || true)
if [ -n "$offset" ]; then
    # xz complains about the data behind the compressed kernel; the kernel itself is whole.
    tail -c +$((offset + 1)) "$vmlinuz" | xz -dc >"$dir/vmlinux" 2>/dev/null || true
fi
if [ "$(head -c 4 "$dir/vmlinux" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ]; then
    kernel=vmlinux
else
    rm -f "$dir/vmlinux"
    kernel=${vmlinuz#"$dir"/}
fi
echo "$package" >"$dir/package"
ln -sfn "$kernel" "$dir/kernel"
touch "$dir/ready"
