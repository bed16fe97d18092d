#!/usr/bin/env bash
# Boots a throw-away Linux VM (QEMU, TCG) with three QEMU optical drives and
# runs the real-drive checks in it: the kernel's sr driver and SG_IO under the
# library, as root, as a user in `cdrom` and as a user outside it.
#   tools/vm-test.sh          (what `./test.sh --vm` runs)
# Artefacts land in build/vm/: results/ (what the guest wrote), console.log
# (the VM's serial console) and qemu-trace.log (every SCSI command and answer).
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$PWD
source tools/deps.sh

BLANKORA_PACKAGES+=(qemu-system-x86 linux-image-amd64 busybox-static cpio kmod genisoimage sg3-utils
    xvfb xdotool
    # the peers that write and judge the served drives' discs
    dvd+rw-tools wodim cdrskin xorriso udftools tcmu-runner)
blankora_install_deps

cmake --preset dev >/dev/null
cmake --build --preset dev --target blankora blankora_bres vm_drives blankora_driveserver served_erase

OUT=$REPO/build/vm
rm -rf "$OUT"
mkdir -p "$OUT/media" "$OUT/results" "$OUT/initramfs"

# The newest installed kernel whose modules are on this machine.
KERNEL=""
for k in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V); do
    [ -d "/lib/modules/${k#/boot/vmlinuz-}" ] && KERNEL=$k
done
[ -n "$KERNEL" ] || { echo "vm-test: no kernel in /boot with its modules" >&2; exit 1; }
[ -r "$KERNEL" ] || { echo "vm-test: $KERNEL is not readable; run as root" >&2; exit 1; }
KVER=${KERNEL#/boot/vmlinuz-}

# Media: a CD-sized ISO, a second one to swap in, and a DVD-sized ISO (padded
# past the CD limit, so that QEMU's drives report DVD-ROM). The labels and
# sizes are what the guest expects; they go to it in media/expected.
make_iso() { # file label size
    local dir
    dir=$(mktemp -d)
    printf 'Blankora VM medium %s\n' "$2" >"$dir/README.TXT"
    genisoimage -quiet -V "$2" -o "$1" "$dir"
    rm -rf "$dir"
    truncate -s "$3" "$1"
}
make_iso "$OUT/media/cd.iso" BLANKORA_CD 48M
make_iso "$OUT/media/swap.iso" BLANKORA_SWAP 16M
make_iso "$OUT/media/dvd.iso" BLANKORA_DVD 1G
{
    echo "cd.iso $(stat -c %s "$OUT/media/cd.iso") BLANKORA_CD"
    echo "swap.iso $(stat -c %s "$OUT/media/swap.iso") BLANKORA_SWAP"
    echo "dvd.iso $(stat -c %s "$OUT/media/dvd.iso") BLANKORA_DVD"
} >"$OUT/media/expected"
[ "${BLANKORA_VM_SERVED_ONLY:-0}" = 1 ] && touch "$OUT/media/served-only"

# Initramfs: static busybox and the modules that reach the host's root over 9p.
INITRD=$OUT/initramfs
mkdir -p "$INITRD"/{bin,dev,proc,sys,newroot,modules}
cp /bin/busybox "$INITRD/bin/busybox"
for applet in sh mount umount insmod mkdir chroot cat cp sleep poweroff echo; do
    ln -s busybox "$INITRD/bin/$applet"
done
MODULES="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache
    9pnet 9pnet_virtio 9p"
for m in $MODULES; do
    src=$(modinfo -k "$KVER" -F filename "$m")
    case "$src" in
    *.ko) cp "$src" "$INITRD/modules/$m.ko" ;;
    *.ko.xz) xz -dc "$src" >"$INITRD/modules/$m.ko" ;;
    *) echo "vm-test: module $m: $src" >&2; exit 1 ;;
    esac
done
cat >"$INITRD/init" <<EOF
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(echo $MODULES); do insmod /modules/\$m.ko; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /newroot
for d in etc var tmp home root run; do
    mkdir -p /overlay/\$d
    mount -t tmpfs tmpfs /overlay/\$d
done
cp -a /newroot/etc/. /overlay/etc/
mkdir -p /overlay/var/cache
cp -a /newroot/var/cache/fontconfig /overlay/var/cache/ 2>/dev/null
for d in etc var tmp home root run; do mount --bind /overlay/\$d /newroot/\$d; done
# The repository on its own, so that a clone below /home, /root or /tmp shows.
mkdir -p /newroot$REPO
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose repo /newroot$REPO
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results /newroot/$OUT/results
mount -t proc proc /newroot/proc
mount -t sysfs sys /newroot/sys
mount --bind /dev /newroot/dev
chroot /newroot /bin/bash $REPO/tests/vm/guest.sh $REPO $OUT
echo "vm-test: guest script ended with \$?"
poweroff -f
EOF
chmod +x "$INITRD/init"
(cd "$INITRD" && find . | cpio -o -H newc --quiet | gzip -1) >"$OUT/initramfs.cpio.gz"

TRACE_EVENTS=$OUT/trace-events
printf '%s\n' scsi_disk_new_request scsi_req_parse_bad scsi_req_build_sense scsi_device_set_ua \
    scsi_disk_emulate_command_UNKNOWN ide_atapi_cmd_packet ide_atapi_cmd_error \
    ide_atapi_cmd_check_status >"$TRACE_EVENTS"

QEMU_PID=""
cleanup() {
    if [ -n "$QEMU_PID" ] && kill -0 "$QEMU_PID" 2>/dev/null; then
        kill "$QEMU_PID" 2>/dev/null || true
        sleep 1
        kill -9 "$QEMU_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# The guest reaches QEMU's monitor (QMP) through its second serial port, which
# QEMU connects to its own monitor socket.
echo "vm-test: booting $KERNEL (TCG); console in $OUT/console.log"
start=$(date +%s)
qemu-system-x86_64 -machine q35,accel=tcg -smp 2 -m 1536 -display none -no-reboot \
    -kernel "$KERNEL" -initrd "$OUT/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 loglevel=4 scsi_mod.scan=sync" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$REPO,mount_tag=repo,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$OUT/results,mount_tag=results,security_model=none,multidevs=remap" \
    -device virtio-scsi-pci,id=scsi0 \
    -drive "if=none,id=cd0,file=$OUT/media/cd.iso,format=raw,media=cdrom,readonly=on" \
    -device scsi-cd,bus=scsi0.0,scsi-id=0,lun=0,drive=cd0,id=cdrom0 \
    -drive if=none,id=cd1,media=cdrom \
    -device scsi-cd,bus=scsi0.0,scsi-id=1,lun=0,drive=cd1,id=cdrom1 \
    -drive "if=none,id=dvd,file=$OUT/media/dvd.iso,format=raw,media=cdrom,readonly=on" \
    -device ide-cd,bus=ide.0,drive=dvd,id=dvdrom \
    -chardev "socket,id=qmp,path=$OUT/qmp.sock,server=on,wait=off" -mon chardev=qmp,mode=control \
    -chardev "socket,id=qmplink,path=$OUT/qmp.sock,reconnect=1" \
    -serial "file:$OUT/console.log" -serial chardev:qmplink -monitor none \
    -trace "events=$TRACE_EVENTS" -D "$OUT/qemu-trace.log" &
QEMU_PID=$!

# The guest powers off when it is done; 30 minutes is the ceiling of the run.
deadline=$((start + ${BLANKORA_VM_TIMEOUT:-1800}))
while kill -0 "$QEMU_PID" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
        echo "vm-test: the VM did not finish in time; see $OUT/console.log" >&2
        cleanup
        break
    fi
    sleep 1
done
wait "$QEMU_PID" 2>/dev/null || true
QEMU_PID=""
echo "vm-test: the VM ran $(($(date +%s) - start)) s"

if [ ! -f "$OUT/results/status" ]; then
    echo "vm-test: FAILED: the guest wrote no status; console:" >&2
    tail -n 40 "$OUT/console.log" >&2
    exit 1
fi
cat "$OUT/results/summary"
status=$(cat "$OUT/results/status")
if [ "$status" != 0 ]; then
    echo "vm-test: FAILED (details in $OUT/results, SCSI trace in $OUT/qemu-trace.log)" >&2
    exit 1
fi
echo "vm-test: passed (SCSI trace in $OUT/qemu-trace.log)"
