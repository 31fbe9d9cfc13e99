#!/usr/bin/env bash
# Seeds: small FAT12 and FAT16 volumes made by mkfs.fat and mtools, holding
# the boot and TUNDRA files that the probes look for.
set -euo pipefail
out=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
echo payload >"$work/file"
for spec in "12 256 fat12" "16 2200 fat16"; do
  set -- $spec
  mkfs.fat -F "$1" -s 1 -S 512 -C "$work/$3" "$2" >/dev/null
  mmd -i "$work/$3" ::EFI ::EFI/BOOT ::TUNDRA
  for f in EFI/BOOT/BOOTX64.EFI EFI/BOOT/BOOTAA64.EFI TUNDRA/KERNEL.ELF TUNDRA/ROOT.TAR \
    TUNDRA/FIRMWARE.TAR; do
    mcopy -i "$work/$3" "$work/file" "::/$f"
  done
  cp "$work/$3" "$out/$3"
done
