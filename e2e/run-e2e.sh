#!/usr/bin/env bash
# The end-to-end test of libzv's libusb backend through a real Linux kernel USB stack (make e2e).
# One zvsim-usbredir server per simulated detector listens on a unix socket; QEMU boots Debian's
# kernel with an emulated xHCI controller whose usb-redir devices connect to those sockets; the
# guest program runs in the initramfs and checks the detectors through libzv. Installs what it
# needs from Debian (as root), builds the two programs, fetches the kernel into the build tree.
# Usage: e2e/run-e2e.sh BUILD_DIR [JOBS]
# Exit status: 0 passed; 77 skipped, where the test cannot run here (the reason is printed; with
# E2E_REQUIRED=1 that is a failure instead); 1 failed (the guest's log is printed).
set -uo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:?usage: e2e/run-e2e.sh BUILD_DIR [JOBS]}")
jobs=${2:-$(nproc)}
work="$build/e2e"
logs="$work/logs"
started=$EPOCHREALTIME

skip() {
    echo "e2e: SKIPPED: $*"
    [ "${E2E_REQUIRED:-0}" = 1 ] && exit 1
    exit 77
}
fail() {
    echo "e2e: FAILED: $*"
    exit 1
}
elapsed() { awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.1f", to - from }'; }

"$source_dir/tools/install-deps.sh" build e2e ||
    skip "the Debian packages of the e2e group are not installed (see above)"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not available"

# The two programs are built only where libusbredirparser was found when the build directory
# was configured; a directory configured before it was installed is configured again.
if [ ! -f "$build/build.ninja" ]; then
    meson setup "$build" --python.install-env=auto >/dev/null || fail "meson setup $build"
elif ! grep -q 'zvsim-usbredir' "$build/build.ninja"; then
    meson setup --reconfigure "$build" >/dev/null || fail "meson setup --reconfigure $build"
fi
ninja -C "$build" -j "$jobs" e2e/zvsim-usbredir e2e/zv-e2e-guest >"$work.build.log" 2>&1 ||
    { cat "$work.build.log"; fail "building the test programs"; }
rm -f "$work.build.log"
server="$build/e2e/zvsim-usbredir"

"$source_dir/e2e/vm/fetch-guest-system.sh" "$work/guest-system"
case $? in
0) ;;
77) skip "the guest kernel cannot be fetched" ;;
*) fail "fetching the guest kernel" ;;
esac
"$source_dir/e2e/vm/make-initramfs.sh" "$work/guest-system" "$build/e2e/zv-e2e-guest" \
    "$work/initramfs.gz" || fail "building the initramfs"
prepared=$(elapsed "$started")

rm -rf "$logs" && mkdir -p "$logs"
sockets=$(mktemp -d /tmp/zv-e2e.XXXXXX) # unix socket paths must stay short
servers=()
stop_servers() {
    for pid in "${servers[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$sockets"
}
trap stop_servers EXIT

# The servers stream in wall-clock time and QEMU drops isochronous packets it could not hand to
# the guest in time, without a word to it: a busy host shows as gaps in the guest's samples. The
# servers and the virtual machine run at a raised priority where that is allowed, as a lab's
# acquisition would.
priority=()
if [ "$(nice -n -10 nice 2>/dev/null)" -lt 0 ] 2>/dev/null; then
    priority=(nice -n -10)
else
    echo "e2e: note: running at normal priority (raising it was not allowed); a busy host may" \
        "show as gaps in the continuous read" >&2
fi

qemu_usb=(-device qemu-xhci,id=xhci)
for name in $("$server" --list); do
    "${priority[@]}" "$server" --socket "$sockets/$name" --detector "$name" \
        2>"$logs/server-$name.log" &
    servers+=($!)
    qemu_usb+=(-chardev "socket,id=$name,path=$sockets/$name"
        -device "usb-redir,chardev=$name,id=$name,bus=xhci.0")
done
# QEMU connects to the sockets, so the servers listen first.
for name in $("$server" --list); do
    for _ in $(seq 50); do
        [ -S "$sockets/$name" ] && break
        sleep 0.1
    done
    [ -S "$sockets/$name" ] || fail "server $name did not start: $(cat "$logs/server-$name.log")"
done

# Kernel parameters the kernel does not know become the init's environment.
guest_environment=${E2E_LIBUSB_DEBUG:+LIBUSB_DEBUG=$E2E_LIBUSB_DEBUG}
booted=$EPOCHREALTIME
"${priority[@]}" timeout 170 qemu-system-x86_64 -accel "${E2E_ACCEL:-tcg}" -m 512 -smp 1 -nographic -no-reboot \
    -nic none -kernel "$work/guest-system/kernel" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet loglevel=2 panic=-1 rdinit=/init $guest_environment" \
    "${qemu_usb[@]}" \
    >"$logs/guest.log" 2>&1
qemu_status=$?
ran=$(elapsed "$booted")

show_logs() {
    echo "---- guest console ($logs/guest.log)"
    cat "$logs/guest.log"
    for log in "$logs"/server-*.log; do
        echo "---- $(basename "$log" .log) (last lines)"
        tail -n 15 "$log"
    done
}

if ! grep -q 'e2e-init: booted' "$logs/guest.log"; then
    if [ "$qemu_status" -ne 0 ] && ! grep -qa 'Linux version\|Run /init' "$logs/guest.log"; then
        cat "$logs/guest.log"
        skip "QEMU cannot run a virtual machine here (exit status $qemu_status)"
    fi
    show_logs
    fail "the virtual machine did not start its init (QEMU exit status $qemu_status)"
fi
boot_time=$(sed -n 's/.*e2e-init: booted in \([0-9.]*\) s.*/\1/p' "$logs/guest.log" | tr -d '\r')
summary=$(grep -a '^zv-e2e-guest: \(PASS\|FAIL\)' "$logs/guest.log" | tr -d '\r' |
    sed 's/^zv-e2e-guest: //' | paste -sd ';' | sed 's/;/; then /g')
if grep -qa '^e2e-init: guest program exit status 0' "$logs/guest.log"; then
    echo "e2e: PASSED: zv-e2e-guest $summary; guest kernel booted in ${boot_time} s, virtual machine ran" \
        "${ran} s, ${prepared} s of preparation, $(elapsed "$started") s in all"
    exit 0
fi
show_logs
[ "$qemu_status" -eq 124 ] && fail "the virtual machine did not finish in time"
guest_status=$(sed -n 's/^e2e-init: guest program exit status \([0-9]*\).*/\1/p' "$logs/guest.log")
[ -n "$summary" ] && fail "zv-e2e-guest $summary"
fail "the guest program ended with exit status ${guest_status:-unknown} before its summary"
