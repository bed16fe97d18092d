#!/bin/bash
# Runs inside the VM of tools/vm-test.sh, as root in a chroot on the host's
# read-only root: sets the drives up as udev would, makes a user in `cdrom` and
# one outside it, and runs the checks as root and as each user. Writes
# summary, status (the number of failed steps) and the artefacts to results/.
set -u
REPO=$1 OUT=$2
R=$OUT/results
BIN=$REPO/build/bin
HERE=$REPO/tests/vm
ln -sf /proc/self/fd /dev/fd
exec > >(tee -a "$R/guest.log") 2>&1
failed=0

record() { # PASS/FAIL text
    echo "$1 $2" | tee -a "$R/summary"
    [ "$1" != FAIL ] || failed=$((failed + 1))
}

source "$HERE/wait-for.sh"

scsi_devices() { # count of SCSI devices on a host
    local n=0
    for d in /sys/bus/scsi/devices/"$1":*; do [ -e "$d/type" ] && n=$((n + 1)); done
    [ "$n" -ge "$2" ]
}

mkdir -p /dev/shm /var/tmp /var/lib/xkb /tmp/.X11-unix
mount -t tmpfs tmpfs /dev/shm
chmod 1777 /tmp /var/tmp /dev/shm /tmp/.X11-unix

# Drivers one after the other: virtio-scsi is SCSI host 0, AHCI host 1, and sr
# comes last so that sr0 and sr1 are the virtio-scsi drives and sr2 the AHCI one.
modprobe virtio_scsi
wait_for 30 "the virtio-scsi drives" scsi_devices 0 2
modprobe ahci
wait_for 30 "the AHCI drive" scsi_devices 1 1
modprobe sr_mod
modprobe sg
if ! wait_for 30 "/dev/sr0 to /dev/sr2" test -b /dev/sr2; then
    record FAIL "drives: /dev/sr0 to /dev/sr2 did not appear"
    echo "$failed" >"$R/status"
    exit 1
fi

# What udev does for optical drives, and the users.
chgrp cdrom /dev/sr[0-9]*
chmod 0660 /dev/sr[0-9]*
chmod 0666 /dev/ttyS1
stty -F /dev/ttyS1 raw -echo
useradd -m -G cdrom burner
useradd -m outsider
ls -l /dev/sr* >"$R/nodes.txt"
id burner outsider >>"$R/nodes.txt"

# The drives as sg3_utils sees them, for comparison with the library's view.
for n in 0 1 2; do
    echo "== /dev/sr$n"
    timeout 20 sg_inq "/dev/sr$n"
    timeout 20 sg_get_config --current "/dev/sr$n"
    timeout 20 sg_modes --page=0x2a "/dev/sr$n"
done >"$R/sg3-utils.txt" 2>&1

as_user() { # user command...
    local user=$1
    shift
    if [ "$user" = root ]; then
        "$@"
    else
        setpriv --reuid="$user" --regid="$user" --init-groups env HOME="/home/$user" "$@"
    fi
}

# The wizard's two ways of finding drives, one per user with access.
declare -A transport=([root]=aspi [burner]=spti [outsider]=spti)
display=1
users="root burner outsider"
# A run of the served drives alone (BLANKORA_VM_SERVED_ONLY=1 tools/vm-test.sh).
[ -e "$OUT/media/served-only" ] && users=""
for user in $users; do
    access=granted
    [ "$user" = outsider ] && access=denied
    work=/tmp/run-$user
    mkdir -p "$work/Vantrel"
    printf 'LogEnabled=1\n' >"$work/Vantrel/Burner.conf"
    # The log goes beside the executable: a writable copy of the program.
    cp "$BIN/blankora" "$work/"
    cp -r "$BIN/bres" "$work/"
    chown -R "$user" "$work"

    echo "guest: $(date +%T) $user: the wizard's device scan (${transport[$user]}) under Xvfb"
    if as_user "$user" timeout 240 "$HERE/wizard-scan.sh" "$work" "$display" "$access" \
        "${transport[$user]}"; then
        record PASS "$user: wizard scan ran"
    else
        record FAIL "$user: wizard scan ran"
    fi
    cp "$work/blankora.log" "$R/$user-wizard.log" 2>/dev/null
    cp "$work/blankora.txt" "$R/$user-wizard-output.txt" 2>/dev/null
    display=$((display + 1))

    echo "guest: $(date +%T) $user: the library's C interface on the drives"
    log=""
    [ "$access" = granted ] && log=$work/blankora.log
    if as_user "$user" timeout 300 env BLANKORA_VM_ACCESS=$access BLANKORA_VM_MEDIA="$OUT/media" \
        BLANKORA_VM_MONITOR=/dev/ttyS1 BLANKORA_VM_WIZARD_LOG="$log" BLANKORA_VM_WIZARD_OUTPUT="$work/blankora.txt" BLANKORA_VM_WIZARD_TRANSPORT="${transport[$user]}" \
        "$BIN/vm_drives" -o "$work/vm_drives.txt,txt"; then
        record PASS "$user: vm_drives"
    else
        record FAIL "$user: vm_drives"
    fi
    cp "$work/vm_drives.txt" "$R/$user-vm_drives.txt"
    cat "$work/vm_drives.txt"
done

# The virtual bay's drives served to the kernel, beside QEMU's.
source "$HERE/served.sh"

dmesg >"$R/dmesg.txt"
echo "$failed" >"$R/status"
