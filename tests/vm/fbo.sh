#!/bin/bash
# Sourced by served.sh: a second served drive that we did not write, the
# file-backed optical handler of tcmu-runner (open-iscsi/tcmu-runner,
# file_optical.c), addressed by the config string "fbo/<options>/<path>".
# It reports a formatted DVD-RAM (profile 0012h, random writable) over a
# plain file, answers FORMAT UNIT by zeroing the file, and has neither BLANK
# nor MODE SENSE page 2Ah. The peers write and judge its disc,
# Blankora erases it; the answers are in steps.txt, the drive's commands in
# tcmu-runner.log. Everything it makes is taken down again.
FBO_HBA=/sys/kernel/config/target/core/user_9
FBO_CORE=$FBO_HBA/fbo0
FBO_WWN=/sys/kernel/config/target/loopback/naa.5001405f00000009
FBO_FILE=/tmp/fbo-disc.img
FBO_LOGS=$SERVED/tcmu-runner

# The drive as the kernel names it: the handler's INQUIRY.
fbo_node() {
    local d
    for d in /sys/block/sr*; do
        if [ "$(xargs <"$d/device/vendor" 2>/dev/null)" = LIO-ORG ] &&
            [ "$(xargs <"$d/device/model" 2>/dev/null)" = VOPTA ]; then
            echo "${d##*/}"
            return 0
        fi
    done
    return 1
}
fbo_running() { grep -q "Starting" "$FBO_LOGS/tcmu-runner.log" 2>/dev/null; }
# Every CDB in the log (log level 5), so the drive's commands are kept.
mkdir -p "$FBO_LOGS" /etc/tcmu
printf 'log_level = 5\n' >/etc/tcmu/tcmu.conf
truncate -s 64M "$FBO_FILE"
# Without a D-Bus system bus tcmu-runner only loses its bus name.
tcmu-runner -l "$FBO_LOGS" >"$FBO_LOGS/stdout.txt" 2>&1 &
FBO_RUNNER=$!
fbo_dev=""
if wait_for 30 "tcmu-runner" fbo_running &&
    mkdir -p "$FBO_CORE" &&
    echo "dev_config=fbo/$FBO_FILE,dev_size=$((64 << 20)),hw_block_size=2048" >"$FBO_CORE/control" &&
    echo 0 >"$FBO_CORE/attrib/cmd_time_out" &&
    timeout 30 sh -c "echo 1 >$FBO_CORE/enable" &&
    mkdir -p "$FBO_WWN/tpgt_1/lun/lun_0" &&
    echo naa.5001405f10000009 >"$FBO_WWN/tpgt_1/nexus" &&
    ln -s "$FBO_CORE" "$FBO_WWN/tpgt_1/lun/lun_0/fbo0" &&
    wait_for 30 "tcmu-runner's drive" fbo_node; then
    fbo_dev=/dev/$(fbo_node)
fi
if [ -n "$fbo_dev" ]; then
    record PASS "served: tcmu-runner's optical drive appears as $fbo_dev"
    FBO_N=${fbo_dev#/dev/sr}
    {
        timeout 20 sg_inq "$fbo_dev"
        timeout 20 sg_get_config "$fbo_dev"
        timeout 20 sg_readcap "$fbo_dev"
    } >"$SERVED/fbo-sg3-utils.txt" 2>&1
    make_image /tmp/fbo.iso SERVED_FBO
    peer 9 "tcmu-runner's optical drive: growisofs writes an image" growisofs -Z "$fbo_dev=/tmp/fbo.iso"
    peer 9 "tcmu-runner's optical drive: blkid reads its label" label_is "$fbo_dev" SERVED_FBO
    peer 9 "tcmu-runner's optical drive: dvd+rw-mediainfo" dvd+rw-mediainfo "$fbo_dev"
    check 9 "tcmu-runner's optical drive: Blankora's fast erase" "$BIN/served_erase" "$FBO_N" fast
    check 9 "tcmu-runner's optical drive: after the fast erase blkid and mount find no file system" \
        no_filesystem "$fbo_dev"
    peer 9 "tcmu-runner's optical drive: growisofs writes the image again" growisofs -Z "$fbo_dev=/tmp/fbo.iso"
    check 9 "tcmu-runner's optical drive: Blankora's full erase" "$BIN/served_erase" "$FBO_N" full
    check 9 "tcmu-runner's optical drive: after the full erase every block reads zero" all_zero "$fbo_dev"
    grep -h "^served_erase: CdRom$FBO_N " "$SERVED/steps.txt" | while read -r line; do
        record NOTE "served: tcmu-runner's optical drive: Blankora answered: $line"
    done
    # The peers' own erases: FORMAT UNIT is the only erase the handler has.
    peer 9 "tcmu-runner's optical drive: dvd+rw-format -force" dvd_rw_format -force "$fbo_dev"
    peer 9 "tcmu-runner's optical drive: xorriso -format full" xorriso -outdev "$fbo_dev" -format full
else
    record FAIL "served: tcmu-runner's optical drive appears as /dev/srN"
    {
        cat "$FBO_LOGS/stdout.txt" "$FBO_LOGS/tcmu-runner.log"
        ls /sys/class/uio /sys/block
    } >>"$SERVED/steps.txt" 2>&1
fi

# Teardown in the kernel's order; the backstore goes while tcmu-runner still
# answers the removal.
rm -f "$FBO_WWN/tpgt_1/lun/lun_0/fbo0"
rmdir "$FBO_WWN/tpgt_1/lun/lun_0" 2>/dev/null
[ -e "$FBO_WWN/tpgt_1/nexus" ] && echo NULL >"$FBO_WWN/tpgt_1/nexus"
rmdir "$FBO_WWN/tpgt_1" "$FBO_WWN" 2>/dev/null
timeout 30 rmdir "$FBO_CORE" "$FBO_HBA" 2>/dev/null
kill -TERM "$FBO_RUNNER"
wait_for 30 "tcmu-runner to stop" sh -c "! kill -0 $FBO_RUNNER 2>/dev/null" || kill -KILL "$FBO_RUNNER"
if [ -e "$FBO_WWN" ] || [ -e "$FBO_HBA" ]; then
    record FAIL "served: tcmu-runner's optical drive is taken down"
    ls -R /sys/kernel/config/target >>"$SERVED/steps.txt" 2>&1
else
    record PASS "served: tcmu-runner's optical drive is taken down"
fi
# The trace has no lines for this drive: its commands come from the log.
sed -i "/^tcmu-runner's optical drive: .*:\$/d" "$SERVED/commands.txt"
grep tcmu_cdb_print_info "$FBO_LOGS/tcmu-runner.log" | sed 's/.*: //' | awk '{ print $1 }' | sort | uniq -c |
    awk '{ printf " %s(%d)", $2, $1 } END { print "" }' | sed 's/^/tcmu-runner optical drive:/' \
    >>"$SERVED/commands.txt"
rm -f "$FBO_FILE"
