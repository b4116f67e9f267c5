#!/bin/sh
# /init of the USB machine's initramfs (tests/usb/machine.sh builds it): loads the modules, puts
# the host's / (read-only, under a tmpfs) together with the results share, runs the job, powers off.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

# dummy_hcd makes as many USB device controllers as the command line asks (zelvor.udcs), so that
# two units can be attached at once (dummy_udc.0, dummy_udc.1).
udcs=$(sed -n 's/.*zelvor\.udcs=\([0-9]*\).*/\1/p' /proc/cmdline)
failed=
for module in $(cat /modules/order); do
    args=
    [ "$module" = dummy_hcd ] && [ -n "$udcs" ] && args="num=$udcs"
    insmod /modules/$module.ko $args 2>/dev/null || [ -d /sys/module/$(echo $module | sed 's/-/_/g') ] || failed="$failed $module"
done

results=$(sed -n 's/.*zelvor\.results=\([^ ]*\).*/\1/p' /proc/cmdline)
shares=$(sed -n 's/.*zelvor\.shares=\([^ ]*\).*/\1/p' /proc/cmdline)
halt()
{
    echo o >/proc/sysrq-trigger
    sleep 60
}

mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 hostroot /lower || halt
mount -t tmpfs -o size=512m rw /rw
mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /newroot || halt
mount -t proc proc /newroot/proc
mount -t sysfs sys /newroot/sys
mount -t configfs configfs /newroot/sys/kernel/config
mount -o move /dev /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs shm /newroot/dev/shm
mount -t tmpfs tmp /newroot/tmp
mount -t tmpfs run /newroot/run
# The checkout and the build folder wherever they are: a tmpfs above may hide them (a clone
# under /tmp). Each is an overlay as the root is: what the job writes there stays in memory.
n=0
IFS=:
for share in $shares; do
    n=$((n + 1))
    mkdir -p "/newroot$share" /rw/share$n/upper /rw/share$n/work
    mount -t overlay -o "lowerdir=/lower$share,upperdir=/rw/share$n/upper,workdir=/rw/share$n/work" overlay "/newroot$share" || halt
done
unset IFS
# Last, so that no tmpfs above hides it (the results folder may well be under /tmp).
mkdir -p /newroot$results
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results /newroot$results || halt
control=/newroot$results/.machine
if [ -n "$failed" ]; then
    echo "the kernel module(s)$failed did not load" >$control/init-failed
    halt
fi
cut -d' ' -f1 /proc/uptime >$control/boot-seconds
: >$control/started

exec switch_root /newroot /bin/sh -c '
    export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TMPDIR=/tmp LANG=C.UTF-8
    control=$1
    /bin/bash "$control/run.sh" >"$control/output" 2>&1
    echo $? >"$control/rc"
    sync
    echo o >/proc/sysrq-trigger
    sleep 60' sh "$results/.machine"
