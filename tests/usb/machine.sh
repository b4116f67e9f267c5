#!/usr/bin/env bash
# Boots a small QEMU machine with a kernel that has USB gadget and ALSA MIDI support, with this
# machine's / as its root (read-only, a tmpfs over it), runs one job script in it and hands back
# the job's output, the files it wrote and its exit code.
#
#   tests/usb/machine.sh [--cache DIR] [--results DIR] [--timeout SECONDS] [--mem MB] [--share DIR]... JOB [ARGS...]
#
# The kernel is Debian's current linux-image-amd64, fetched with apt-get download and unpacked
# into the cache (never installed). RESULTS (default: a new folder in the cache) is shared
# read-write and is mounted in the machine at the same path, so the job writes there as if it
# ran here (the machine's /tmp is its own); the job runs as root from the current folder, with
# its stdout and stderr printed here when it ends. The checkout, the current folder and each
# --share DIR appear at their own paths even where the machine has a tmpfs of its own (/tmp,
# /run); like the rest of /, what the job writes there stays in the machine. Exit codes: the
# job's, 124 when it ran out of time, 3 when the machine cannot be made (no QEMU, no kernel
# package, a module missing), 2 for a usage error.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cache=${ZELVOR_USB_CACHE:-$PWD/build/usb-machine}
results=
timeout=600
mem=1024
shares=("$(cd "$here/../.." && pwd)" "$PWD")

fail() # message: one line, then exit 3
{
    echo "machine: $*" >&2
    exit 3
}
usage()
{
    echo "usage: machine.sh [--cache DIR] [--results DIR] [--timeout SECONDS] [--mem MB] [--share DIR]... JOB [ARGS...]" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case $1 in
        --cache) [ $# -ge 2 ] || usage; cache=$2; shift 2 ;;
        --results) [ $# -ge 2 ] || usage; results=$2; shift 2 ;;
        --timeout) [ $# -ge 2 ] || usage; timeout=$2; shift 2 ;;
        --mem) [ $# -ge 2 ] || usage; mem=$2; shift 2 ;;
        --share) [ $# -ge 2 ] && [ -d "$2" ] || usage; shares+=("$(cd "$2" && pwd)"); shift 2 ;;
        --) shift; break ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || usage
case $timeout in '' | *[!0-9]*) usage ;; esac
job=$(readlink -f "$1")
shift
[ -f "$job" ] || { echo "machine: no job script $job" >&2; exit 2; }

for tool in qemu-system-x86_64 cpio depmod modprobe dpkg-deb apt-get apt-cache; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
busybox=/bin/busybox
file -L "$busybox" 2>/dev/null | grep -q 'statically linked' || fail "no static busybox at $busybox (package busybox-static)"

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# The kernel: the package linux-image-amd64 points at today, unpacked once per version. Several
# tests may start at once; one of them fetches, the others wait for it.
exec 9>"$cache/.lock"
flock 9
package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1)
[ -n "$package" ] || fail "apt does not know linux-image-amd64 (run apt-get update)"
version=${package#linux-image-}
kdir=$cache/$package
if [ ! -f "$kdir/.unpacked" ]; then
    rm -rf "$kdir" "$cache/download"
    mkdir -p "$cache/download"
    (cd "$cache/download" && apt-get download -q "$package" >/dev/null 2>&1) || fail "cannot download the kernel package $package"
    dpkg-deb -x "$cache"/download/"$package"_*.deb "$kdir" || fail "cannot unpack $package"
    depmod -b "$kdir" "$version" || fail "depmod failed for $version"
    rm -rf "$cache/download"
    touch "$kdir/.unpacked"
fi
kernel=$kdir/boot/vmlinuz-$version
[ -f "$kernel" ] || fail "the package $package holds no kernel"

# The initramfs: busybox, the modules with their dependencies in load order, and /init.
modules="virtio_pci 9pnet_virtio 9p overlay dummy_hcd libcomposite usb_f_midi snd-usb-audio snd-seq snd-seq-midi snd-rawmidi"
initrd=$cache/initrd-$version.cpio.gz
if [ ! -f "$initrd" ] || [ "$here/machine.sh" -nt "$initrd" ] || [ "$here/machine-init.sh" -nt "$initrd" ]; then
    root=$cache/initrd-root
    rm -rf "$root"
    mkdir -p "$root"/{bin,dev,proc,sys,lower,rw,newroot,modules}
    cp "$busybox" "$root/bin/busybox"
    for applet in sh mount umount mkdir insmod switch_root cat echo sleep poweroff reboot; do
        ln -s busybox "$root/bin/$applet"
    done
    : >"$root/modules/order"
    for module in $modules; do
        lines=$(modprobe -d "$kdir" -S "$version" --show-depends "$module" 2>/dev/null) || fail "module $module is missing from $package"
        while read -r kind path _; do
            [ "$kind" = insmod ] || continue
            name=$(basename "$path")
            name=${name%.xz}
            name=${name%.zst}
            name=${name%.ko}
            if [ ! -f "$root/modules/$name.ko" ]; then
                case $path in
                    *.xz) xz -dc "$path" >"$root/modules/$name.ko" ;;
                    *.zst) zstd -qdc "$path" >"$root/modules/$name.ko" ;;
                    *) cp "$path" "$root/modules/$name.ko" ;;
                esac
                echo "$name" >>"$root/modules/order"
            fi
        done <<<"$lines"
    done
    cp "$here/machine-init.sh" "$root/init"
    chmod +x "$root/init"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
    mv "$initrd.tmp" "$initrd"
    rm -rf "$root"
fi
flock -u 9

if [ -z "$results" ]; then
    results=$(mktemp -d "$cache/results.XXXXXX")
fi
mkdir -p "$results"
results=$(cd "$results" && pwd)
control=$results/.machine
rm -rf "$control"
mkdir -p "$control"
# The machine's /tmp is a tmpfs of its own, so the job travels in the results share.
cp "$job" "$control/job.sh"
{
    echo "cd $(printf %q "$PWD")"
    printf 'exec timeout -k 5 %q /bin/bash %q' "$timeout" "$control/job.sh"
    printf ' %q' "$@"
    echo
} >"$control/run.sh"

# The shares travel on the kernel's command line, separated by colons.
for share in "${shares[@]}"; do
    case $share in *[[:space:]:]*) fail "cannot share a path with a space or a colon: $share" ;; esac
done
share_list=$(IFS=:; echo "${shares[*]}")

start=$(date +%s.%N)
set +e
timeout -k 10 $((timeout + 120)) qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m "$mem" \
    -kernel "$kernel" -initrd "$initrd" -nographic -no-reboot -nic none \
    -serial file:"$control/console.log" -monitor none \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 zelvor.results=$results zelvor.shares=$share_list zelvor.udcs=2" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap,id=hostroot \
    -virtfs local,path="$results",mount_tag=results,security_model=none,multidevs=remap,id=results \
    </dev/null >"$control/qemu.log" 2>&1
qemu_rc=$?
set -e

[ -f "$control/output" ] && cat "$control/output"
if [ -f "$control/boot-seconds" ]; then
    echo "machine: booted in $(cat "$control/boot-seconds") s, ran $(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }') s in all" >&2
fi
if [ -f "$control/init-failed" ]; then
    fail "$(cat "$control/init-failed")"
fi
if [ ! -f "$control/rc" ]; then
    [ -f "$control/console.log" ] && tail -n 20 "$control/console.log" >&2
    if [ "$qemu_rc" -eq 124 ] || [ -f "$control/started" ]; then
        echo "machine: the job did not finish within $timeout s" >&2
        exit 124
    fi
    fail "the machine did not start (qemu exit code $qemu_rc, see $control/qemu.log)"
fi
rc=$(cat "$control/rc")
[ "$rc" = 124 ] && echo "machine: the job did not finish within $timeout s" >&2
exit "$rc"
