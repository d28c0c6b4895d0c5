#!/bin/sh
# /init of the end-to-end test's virtual machine: loads the USB host controller driver, starts
# udev (libusb learns of plugged and unplugged detectors from it) and runs the guest program
# twice as an ordinary user: before the project's udev rule is installed (the detectors must be
# refused with the explanation), and after it (the whole test). The host reads the result from
# the last line.
export PATH=/bin LD_LIBRARY_PATH=/lib/zv
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs -o mode=1777 tmpfs /tmp
uptime() { cut -d' ' -f1 /proc/uptime; }

# True when every attached device the project's rule names (vendor:product) has the rule's mode.
rule_applied() {
    ids=$(sed -n 's/.*idVendor}=="\([0-9a-f]*\)".*idProduct}=="\([0-9a-f]*\)".*/\1:\2/p' /rules/*.rules)
    for device in /sys/bus/usb/devices/*; do
        [ -f "$device/idVendor" ] || continue
        id="$(cat "$device/idVendor"):$(cat "$device/idProduct")"
        case " $(echo $ids) " in *" $id "*) ;; *) continue ;; esac
        node=$(printf /dev/bus/usb/%03d/%03d "$(cat "$device/busnum")" "$(cat "$device/devnum")")
        [ "$(stat -c %a "$node")" = 666 ] || return 1
    done
}
echo "e2e-init: booted in $(uptime) s"
for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || echo "e2e-init: insmod $module failed"
done
/lib/systemd/systemd-udevd --daemon || echo "e2e-init: udev did not start"
echo "e2e-init: USB stack up at $(uptime) s"

timeout 60 /bin/zv-e2e-guest --no-access
status=$?
if [ "$status" -eq 0 ]; then
    mkdir -p /etc/udev/rules.d
    cp /rules/*.rules /etc/udev/rules.d/
    udevadm control --reload
    # On a busy host udevd may handle the trigger's events before it has read the new rule: the
    # trigger is repeated until every detector's node has the rule's mode.
    for attempt in 1 2 3 4 5; do
        udevadm trigger --action=add --subsystem-match=usb
        udevadm settle --timeout=20
        rule_applied && break
        sleep 1
    done
    echo "e2e-init: udev rule installed at $(uptime) s (trigger $attempt)"
    timeout 150 /bin/zv-e2e-guest
    status=$?
fi
if [ "$status" -ne 0 ]; then
    echo "--- kernel messages about USB"
    dmesg | grep -iE 'usb|xhci' | tail -40
fi
echo "e2e-init: finished at $(uptime) s"
echo "e2e-init: guest program exit status $status"
poweroff -f
