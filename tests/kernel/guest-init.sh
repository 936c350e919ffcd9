#!/bin/busybox sh
# /init of the kernel test guest: loads the USB modules, waits for the bridge's tty and runs the
# check program step by step. The host reads the CHECK, SYNC and EVENT lines on the serial console.
/bin/busybox --install -s /bin
export PATH=/bin LD_LIBRARY_PATH=/opt/scope
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
check=/opt/scope/kernel-guest-check

while read -r module; do
    insmod "/lib/modules/$module.ko" || echo "CHECK modules FAIL insmod $module"
done </lib/modules/load-order
tries=0
while [ ! -c /dev/ttyUSB0 ] && [ $tries -lt 1500 ]; do
    sleep 0.02
    tries=$((tries + 1))
done
if [ ! -c /dev/ttyUSB0 ]; then
    echo "CHECK tty FAIL no /dev/ttyUSB0 30 s after the modules were loaded"
    poweroff -f
fi
echo "BOOT ttyUSB0 at $(cut -d' ' -f1 /proc/uptime) s guest uptime"

$check list
$check reset-latency && $check latency latency-root && $check latency-register latency-root
# An ordinary user in the tty's group, as the udev rule or the distribution sets it up.
chgrp dialout /dev/ttyUSB0
chmod 0660 /dev/ttyUSB0
$check reset-latency && su tech -c "$check latency latency-user" && $check latency-register latency-user
$check second-open
$check boot-loader
$check screen
$check hotplug
# A node that no group may open.
chown root:root /dev/ttyUSB0
chmod 0600 /dev/ttyUSB0
su tech -c "$check denied"
# Kernel errors and worse, kept off the console while the checks ran so as not to cut into their lines.
dmesg -r | grep '^<[0-3]>' | sed 's/^/KERNEL /'
echo "GUEST done"
poweroff -f
