#!/usr/bin/env bash
# Writes a FAT card image holding our own sample photographs (one as a bitmap, one as a
# PNG) and a voice memo, then deletes some of them, as a camera user would before asking
# for them back.
#   MakeSampleCard.sh GF_RESGEN MKFS_VFAT WORKDIR IMAGE
set -euo pipefail
resgen=$1 mkfs=$2 work=$3 image=$4
rm -rf "$work"
mkdir -p "$work"
"$resgen" samples "$work" 14
tmp="$image.tmp"
rm -f "$tmp"
truncate -s 16M "$tmp"
"$mkfs" -n GLIMMERCARD "$tmp" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$tmp" ::DCIM
mcopy -i "$tmp" "$work"/SAMPLE* "$work"/MEMO*.WAV ::DCIM/
mdel -i "$tmp" ::DCIM/SAMPLE03.JPG ::DCIM/SAMPLE06.JPG ::DCIM/SAMPLE07.JPG ::DCIM/SAMPLE13.PNG
mv "$tmp" "$image"
