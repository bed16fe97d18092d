#!/bin/bash
REPO=$1 OUT=$2
R=$OUT/results
{ uname -a; ls -la /dev/sr* ; cat /proc/mounts; } > $R/boot.txt 2>&1
modprobe -a sr_mod virtio_scsi ahci sg
sleep 3
ls -la /dev/sr* /sys/class/scsi_generic >> $R/boot.txt 2>&1
cat /sys/class/block/sr*/device/{vendor,model} >> $R/boot.txt 2>&1
echo 0 > $R/status; echo ok > $R/summary
