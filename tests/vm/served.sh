#!/bin/bash
# Sourced by guest.sh inside the VM: serves the virtual bay of served-bay.json
# to the kernel (driveserver: LIO/TCMU + tcm_loop), so that each emulated drive
# is a /dev/srN behind the real sr driver. Programs we did not write make the
# discs (growisofs, cdrskin, xorriso), read and judge them (blkid, dd, cmp,
# mount, dvd+rw-mediainfo, xorriso); Blankora erases them through the wizard
# and its library, and the peers' own erases run on the same media. Uses
# record(), as_user() and wait_for from guest.sh.
SERVED=$R/served
mkdir -p "$SERVED"
TRACE=$R/driveserver-trace.log
: >"$TRACE"
: >"$SERVED/commands.txt"

# The drive of the scenario's index $1 as the kernel names it: its sysfs model.
served_models=("Virtual DVD+RW" "Virtual CD-RW" "Virtual DVD-RW" "Virtual DVD-RAM" "Virtual BD-RE")
served_node() { # index
    local d
    for d in /sys/block/sr*; do
        if [ "$(cat "$d/device/vendor" 2>/dev/null | xargs)" = BLANKORA ] &&
            [ "$(cat "$d/device/model" 2>/dev/null | xargs)" = "${served_models[$1]}" ]; then
            echo "${d##*/}"
            return 0
        fi
    done
    return 1
}
served_all() {
    local i
    for i in 0 1 2 3 4; do served_node "$i" >/dev/null || return 1; done
}

# Runs one step and notes which opcodes the drive got meanwhile (the kernel's
# own polling included) from the server's trace.
step() { # drive-index label command...
    local index=$1 label=$2
    shift 2
    local from rc
    from=$(wc -l <"$TRACE")
    echo "guest: $(date +%T) served: $label: $*" >>"$SERVED/steps.txt"
    if declare -F "$1" >/dev/null; then
        "$@" >>"$SERVED/steps.txt" 2>&1
    else
        timeout 300 "$@" >>"$SERVED/steps.txt" 2>&1
    fi
    rc=$?
    echo "  -> exit $rc" >>"$SERVED/steps.txt"
    tail -n +"$((from + 1))" "$TRACE" | awk -v d="blankora$index" '$2 == d && $5 == "cdb" {
        print substr($6, 1, 2) }' | sort | uniq -c | sort -k2 |
        awk -v l="$label" 'BEGIN { printf "%s:", l } { printf " %s(%d)", $2, $1 } END { print "" }' \
            >>"$SERVED/commands.txt"
    return $rc
}

# PASS when the command succeeds, FAIL otherwise.
check() { # drive-index text command...
    local index=$1 text=$2
    shift 2
    if step "$index" "$text" "$@"; then record PASS "served: $text"; else record FAIL "served: $text"; fi
}

# A step on the drive we did not write (fbo.sh): what it cannot do is a
# finding about it, listed as NOTE, not a failed step.
peer() { # drive-index text command...
    local index=$1 text=$2
    shift 2
    if step "$index" "$text" "$@"; then record PASS "served: $text"; else record NOTE "served: $text"; fi
}

label_is() { [ "$(blkid -p -o value -s LABEL "$1" 2>/dev/null)" = "$2" ]; }
no_filesystem() { # node: blkid and both mounts find nothing
    blkid -p "$1" && return 1
    mkdir -p /tmp/judge
    local fs
    for fs in iso9660 udf; do
        if mount -o ro -t "$fs" "$1" /tmp/judge 2>/dev/null; then
            echo "$fs mounts: $(ls /tmp/judge | tr '\n' ' ')"
            dmesg | tail -3
            umount /tmp/judge
            return 1
        fi
    done
    return 0
}
reads_back() { # node image: the image's blocks read through the node
    local blocks=$(($(stat -c %s "$2") / 2048))
    dd if="$1" bs=2048 count="$blocks" status=none | cmp - "$2"
}
all_zero() { # node: every block of the disc
    cmp -n "$(blockdev --getsize64 "$1")" "$1" /dev/zero
}
xorriso_blank() { # node: xorriso -toc reports a blank disc
    local out
    out=$(xorriso -outdev "$1" -toc 2>&1)
    echo "$out"
    grep -q "Media status : is blank" <<<"$out"
}
mediainfo_blank() { # node: dvd+rw-mediainfo reports a blank disc
    local out
    out=$(dvd+rw-mediainfo "$1" 2>&1)
    echo "$out"
    grep -q "Disc status:.*blank" <<<"$out"
}

# Blankora's erase through the wizard under Xvfb, walked with the keyboard
# (wizard-erase.sh) as root or as the user in `cdrom`. It passes when the
# saved erase log ends "Erase completed" and no message box came up. The
# wizard ejects the disc; it is loaded again for the judges that follow.
wizard_display=20
wizard_erase() { # drive-index user fast|full
    local index=$1 user=$2 type=$3 work=/tmp/wizard-$2 name=wizard-$1-$3
    rm -rf "$work"
    mkdir -p "$work/Vantrel"
    printf 'LogEnabled=1\n' >"$work/Vantrel/Burner.conf"
    cp "$BIN/blankora" "$work/"
    cp -r "$BIN/bres" "$work/"
    chown -R "$user" "$work"
    as_user "$user" timeout 900 "$HERE/wizard-erase.sh" "$work" "$wizard_display" \
        "${served_models[$index]}" "$type"
    local walked=$?
    wizard_display=$((wizard_display + 1))
    cp "$work/blankora.log" "$SERVED/$name-blankora.log" 2>/dev/null
    cp "$work/erase-log.txt" "$SERVED/$name-erase-log.txt" 2>/dev/null
    for picture in finish message; do
        [ -e "$work/$picture.xwd" ] &&
            python3 "$REPO/tools/xwd-to-png.py" "$work/$picture.xwd" "$SERVED/$name-$picture.png"
    done
    cat "$work/erase-log.txt" 2>/dev/null
    sg_start --load "${SR[index]}"
    wait_for 30 "the disc loaded again" sg_turs "${SR[index]}"
    [ "$walked" -eq 0 ] && [ ! -e "$work/message.xwd" ] &&
        tail -n 1 "$work/erase-log.txt" | grep -q "Erase completed"
}

# dvd+rw-format exits 0 after its ":-(" failure lines: its output is the judge.
dvd_rw_format() { # option node
    local out
    out=$(dvd+rw-format "$1" "$2" 2>&1)
    echo "$out"
    ! grep -q ':-(' <<<"$out"
}

make_image() { # file label
    local dir
    dir=$(mktemp -d)
    printf 'Served disc %s\n' "$2" >"$dir/README.TXT"
    head -c 3145728 /dev/urandom >"$dir/DATA.BIN"
    genisoimage -quiet -V "$2" -o "$1" "$dir"
    rm -rf "$dir"
}

echo "guest: $(date +%T) served drives: modules and configfs"
modprobe target_core_user && modprobe tcm_loop
# The judges mount what the peers wrote.
modprobe isofs
modprobe udf
mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config
"$BIN/blankora_driveserver" "$HERE/served-bay.json" "$TRACE" >"$SERVED/driveserver.txt" 2>&1 &
SERVER=$!
# What the kernel and the server were doing, should the scan of a drive hang.
(
    sleep 75
    {
        cat "$SERVED/driveserver.txt"
        dmesg | tail -n 20
        for t in /proc/"$SERVER"/task/*; do echo "$t $(cat "$t/wchan") $(cut -d' ' -f3 "$t/stat")"; done
        ps -eo pid,stat,wchan:30,args | tail -n 30
    } >"$SERVED/after-75s.txt" 2>&1
) &
if ! wait_for 60 "the served drives" served_all; then
    record FAIL "served: five drives appear as /dev/srN"
    {
        cat "$SERVED/driveserver.txt"
        ls /sys/class/uio /sys/block
        for t in /proc/"$SERVER"/task/*; do echo "$t $(cat "$t/wchan") $(cut -d' ' -f3 "$t/stat")"; done
    } >>"$SERVED/steps.txt" 2>&1
    kill "$SERVER"
    return 0 2>/dev/null || exit 0
fi
record PASS "served: five drives appear as /dev/srN"
declare -a SR
for i in 0 1 2 3 4; do
    SR[i]=/dev/$(served_node "$i")
    chgrp cdrom "${SR[i]}"
    chmod 0660 "${SR[i]}"
done
echo "served nodes: ${SR[*]}" >>"$SERVED/steps.txt"
for i in 0 1 2 3 4; do
    echo "== ${SR[i]}"
    timeout 20 sg_inq "${SR[i]}"
    timeout 20 sg_get_config --current "${SR[i]}"
done >"$SERVED/sg3-utils.txt" 2>&1
N0=${SR[0]#/dev/sr}

# DVD+RW: growisofs writes, blkid and dd read back, Blankora erases fast and
# full, the peers judge; then the peer's own format.
make_image /tmp/dvdplus.iso SERVED_DVDPLUSRW
check 0 "DVD+RW: growisofs writes an image" growisofs -Z "${SR[0]}=/tmp/dvdplus.iso"
check 0 "DVD+RW: blkid reads its label" label_is "${SR[0]}" SERVED_DVDPLUSRW
check 0 "DVD+RW: dd reads the image back" reads_back "${SR[0]}" /tmp/dvdplus.iso
mkdir -p /tmp/served-mount
if step 0 "DVD+RW: mount" mount -o ro -t iso9660 "${SR[0]}" /tmp/served-mount; then
    step 0 "DVD+RW: erase of a mounted disc" "$BIN/served_erase" "$N0" fast
    if [ $? -ne 0 ] && tail -n 2 "$SERVED/steps.txt" | grep -q /tmp/served-mount; then
        record PASS "served: DVD+RW: a mounted disc is refused with its mount point"
    else
        record FAIL "served: DVD+RW: a mounted disc is refused with its mount point"
    fi
    umount /tmp/served-mount
else
    record FAIL "served: DVD+RW: mount"
fi
check 0 "DVD+RW: Blankora's fast erase in the wizard, as the cdrom user" wizard_erase 0 burner fast
check 0 "DVD+RW: after the fast erase blkid and mount find no file system" no_filesystem "${SR[0]}"
check 0 "DVD+RW: dvd+rw-mediainfo after the fast erase" dvd+rw-mediainfo "${SR[0]}"
check 0 "DVD+RW: growisofs writes the image again" growisofs -Z "${SR[0]}=/tmp/dvdplus.iso"
check 0 "DVD+RW: Blankora's full erase in the wizard, as root" wizard_erase 0 root full
check 0 "DVD+RW: after the full erase every block reads zero" all_zero "${SR[0]}"
# Blankora's time for it: from the erase call to the drive's release, in the
# wizard's diagnostic log.
full_seconds=$(sed -n '/CdvdBurnerGrabber_Blank:/,/CdvdBurnerGrabber_Release/p' \
    "$SERVED/wizard-0-full-blankora.log" | awk '{ split($1, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]
    if (NR == 1) first = s; last = s } END { if (NR > 1) printf "%.1f", last - first }')
check 0 "DVD+RW: dvd+rw-format -force" dvd_rw_format -force "${SR[0]}"

# The other media: the peers write and erase, Blankora erases in the wizard
# fast as the cdrom user and full as root, the peers judge.
N=(); for i in 1 2 3 4; do N[i]=${SR[i]#/dev/sr}; done
make_image /tmp/small.iso SERVED_DISC
check 1 "CD-RW: cdrskin blank=fast" cdrskin -v dev="${SR[1]}" blank=fast
check 1 "CD-RW: cdrskin writes an image" cdrskin -v dev="${SR[1]}" -tao /tmp/small.iso
check 1 "CD-RW: blkid reads its label" label_is "${SR[1]}" SERVED_DISC
check 1 "CD-RW: Blankora's fast erase in the wizard, as the cdrom user" wizard_erase 1 burner fast
check 1 "CD-RW: after the fast erase xorriso -toc reports it blank" xorriso_blank "${SR[1]}"
check 1 "CD-RW: cdrskin writes the image again" cdrskin -v dev="${SR[1]}" -tao /tmp/small.iso
check 1 "CD-RW: Blankora's full erase in the wizard, as root" wizard_erase 1 root full
check 1 "CD-RW: after the full erase xorriso -toc reports it blank" xorriso_blank "${SR[1]}"
check 1 "CD-RW: cdrskin blank=all" cdrskin -v dev="${SR[1]}" blank=all
check 2 "DVD-RW: dvd+rw-format -blank" dvd_rw_format -blank "${SR[2]}"
check 2 "DVD-RW: growisofs writes an image" growisofs -Z "${SR[2]}=/tmp/small.iso"
check 2 "DVD-RW: blkid reads its label" label_is "${SR[2]}" SERVED_DISC
check 2 "DVD-RW: Blankora's fast erase in the wizard, as the cdrom user" wizard_erase 2 burner fast
check 2 "DVD-RW: after the fast erase dvd+rw-mediainfo reports it blank" mediainfo_blank "${SR[2]}"
check 2 "DVD-RW: growisofs writes the image again" growisofs -Z "${SR[2]}=/tmp/small.iso"
check 2 "DVD-RW: Blankora's full erase in the wizard, as root" wizard_erase 2 root full
check 2 "DVD-RW: after the full erase xorriso -toc reports it blank" xorriso_blank "${SR[2]}"
check 3 "DVD-RAM: xorriso writes an image" xorriso -outdev "${SR[3]}" -blank as_needed \
    -volid SERVED_RAM -map /tmp/small.iso /small.iso -commit
check 3 "DVD-RAM: blkid reads its label" label_is "${SR[3]}" SERVED_RAM
check 3 "DVD-RAM: Blankora's fast erase in the wizard, as the cdrom user" wizard_erase 3 burner fast
check 3 "DVD-RAM: after the fast erase blkid and mount find no file system" no_filesystem "${SR[3]}"
check 3 "DVD-RAM: xorriso writes the image again" xorriso -outdev "${SR[3]}" -blank as_needed \
    -volid SERVED_RAM -map /tmp/small.iso /small.iso -commit
check 3 "DVD-RAM: Blankora's full erase in the wizard, as root" wizard_erase 3 root full
check 3 "DVD-RAM: after the full erase every block reads zero" all_zero "${SR[3]}"
check 3 "DVD-RAM: xorriso -blank" xorriso -outdev "${SR[3]}" -blank fast
check 4 "BD-RE: growisofs writes an image" growisofs -Z "${SR[4]}=/tmp/small.iso"
check 4 "BD-RE: blkid reads its label" label_is "${SR[4]}" SERVED_DISC
check 4 "BD-RE: Blankora's fast erase in the wizard, as the cdrom user" wizard_erase 4 burner fast
check 4 "BD-RE: after the fast erase blkid and mount find no file system" no_filesystem "${SR[4]}"
check 4 "BD-RE: growisofs writes the image again" growisofs -Z "${SR[4]}=/tmp/small.iso"
check 4 "BD-RE: Blankora's full erase in the wizard, as root" wizard_erase 4 root full
check 4 "BD-RE: after the full erase every block reads zero" all_zero "${SR[4]}"

# The figure: Blankora's full erase in the wizard beside capacity / rate, and
# the cost of a 64 KiB WRITE through the kernel beside the in-process bay's,
# on a drive whose writes are not held to a speed.
write_start=$(date +%s.%N)
step 3 "DVD-RAM: dd writes 256 x 64 KiB" dd if=/dev/zero of="${SR[3]}" bs=64k count=256 oflag=direct
write_end=$(date +%s.%N)
inprocess=$("$BIN/blankora_driveserver" --bench-write "$HERE/served-bay.json" 3 256 2>&1)
awk -v s="${full_seconds:-0}" -v a="$write_start" -v b="$write_end" -v p="$inprocess" 'BEGIN {
    ideal = 268435456 / 11080000
    printf "FIGURE served DVD+RW 256 MiB full erase at 8x: %.1f s, capacity/rate %.1f s, ratio %.2f; 64 KiB WRITE to the DVD-RAM (not held to a speed) through the kernel %.0f us, in process %s us\n",
        s, ideal, s / ideal, (b - a) * 1e6 / 256, p }' | tee -a "$R/summary"

# The drive pulled mid-erase (Blankora's full erase of the DVD-RW, 20 s): the
# erase ends with a message naming the drive and nothing is reported erased.
TPG=/sys/kernel/config/target/loopback/naa.5001405000000002/tpgt_1/transport_status
timeout 120 "$BIN/served_erase" "${N[2]}" full >"$SERVED/pulled.txt" 2>&1 &
eraser=$!
sleep 3
echo offline >"$TPG"
wait "$eraser"
pulled=$?
echo online >"$TPG"
cat "$SERVED/pulled.txt" >>"$SERVED/steps.txt"
# The library's own text follows "s: "; the wizard adds the drive's name.
answer=$(sed -n 's/^served_erase: .* failed .* s: //p' "$SERVED/pulled.txt")
if [ "$pulled" -ne 0 ] && [ -n "$answer" ] && ! grep -q "erased in" "$SERVED/pulled.txt"; then
    record PASS "served: DVD-RW: a drive pulled mid-erase ends with the library's error, nothing erased"
else
    record FAIL "served: DVD-RW: a drive pulled mid-erase ends with the library's error, nothing erased"
fi
case "$answer" in
*"${SR[2]}"* | *"CdRom${N[2]}"*) record PASS "served: DVD-RW: the pulled drive's error names it" ;;
*) record FAIL "served: DVD-RW: the pulled drive's error names it: \"$answer\"" ;;
esac

# An abort storm: BLANK without Immed holds the command for the whole blank,
# so the kernel times each one out after a second and aborts it (a TMR to
# the server). Two drives at once, twice. The server must answer the aborts,
# go on serving, and the blanks must still end with blank discs.
abort_storm() {
    local round i blanks
    for round in 1 2; do
        blanks=()
        for i in 1 2; do
            timeout 60 sg_raw --timeout=1 "${SR[i]}" a1 00 00 00 00 00 00 00 00 00 00 00 &
            blanks+=($!)
        done
        wait "${blanks[@]}"
        for i in 1 2; do
            wait_for 90 "${SR[i]} ready after the aborted blank" sg_turs "${SR[i]}" || return 1
        done
    done
    # The aborted BLANK's late answer is dropped, not given to the command
    # the kernel sent next under the same id.
    kill -0 "$SERVER" && grep -q " TMR " "$TRACE" && grep -q "cdb A1.* aborted" "$TRACE" &&
        xorriso_blank "${SR[1]}" && mediainfo_blank "${SR[2]}"
}
check 1 "CD-RW and DVD-RW: the server answers an abort storm and the blanks still end" abort_storm
grep " TMR " "$TRACE" >>"$SERVED/steps.txt"

[ -x /usr/bin/tcmu-runner ] && source "$HERE/fbo.sh"

# Teardown: the server removes what it made; nothing stays in configfs.
kill -TERM "$SERVER"
wait_for 30 "the driveserver to stop" sh -c "! kill -0 $SERVER 2>/dev/null"
if ! ls -d /sys/kernel/config/target/loopback/naa.* /sys/kernel/config/target/core/user_*/blankora* \
    >/dev/null 2>&1; then
    record PASS "served: the server removes its targets and backstores"
else
    record FAIL "served: the server removes its targets and backstores"
    ls -R /sys/kernel/config/target >>"$SERVED/steps.txt" 2>&1
fi
sed 's/^/commands: /' "$SERVED/commands.txt" >>"$R/summary"
