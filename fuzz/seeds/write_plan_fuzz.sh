#!/usr/bin/env bash
# Seeds: a flags byte, the stick's length, then a stick and an image
# partitioned by sgdisk, each with its TUNDRA partition (a FAT12 volume with
# the boot files) at the same sectors; the stick also has a data area.
# Flags 0: the plan keeps the data area; 0x52: --fresh, and a --keep-guid that
# misses the stick's first partition by one bit.
set -euo pipefail
out=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
echo boot >"$work/file"
mkfs.fat -F 12 -s 1 -S 512 -C "$work/esp" 64 >/dev/null
mmd -i "$work/esp" ::EFI ::EFI/BOOT ::TUNDRA
for f in EFI/BOOT/BOOTX64.EFI TUNDRA/KERNEL.ELF TUNDRA/ROOT.TAR; do
  mcopy -i "$work/esp" "$work/file" "::/$f"
done
disk() { # FILE SECTORS, then sgdisk's partition options
  local file=$1 sectors=$2
  shift 2
  truncate -s $((sectors * 512)) "$file"
  sgdisk -a 1 -o -n 1:40:167 -t 1:EF00 "$@" "$file" >/dev/null
  dd if="$work/esp" of="$file" bs=512 seek=40 conv=notrunc status=none
}
disk "$work/stick" 400 -n 2:168:360 -t 2:4A3C7D1E-6B2F-4E55-9A47-54554E445241
disk "$work/image" 300
size=$(stat -c %s "$work/stick")
for flags in 00 52; do
  {
    printf "\\x$flags"
    printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8 & 255)))"
    printf "\\x$(printf %02x $((size >> 16 & 255)))\\x00"
    cat "$work/stick" "$work/image"
  } >"$out/plan-$flags"
done
