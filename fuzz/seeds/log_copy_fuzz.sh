#!/usr/bin/env bash
# Seeds: small FAT12 volumes made by mkfs.fat and mtools whose TUNDRA folder
# holds logs of every kind that is copied (and some that are not), one of
# them spread over many clusters and one split in two pieces.
set -euo pipefail
out=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
echo "boot ok" >"$work/short"
head -c 3000 /dev/zero | tr '\0' 'k' >"$work/long"
for size in 64 256; do
  image="$work/fat12-$size"
  mkfs.fat -F 12 -s 1 -S 512 -C "$image" "$size" >/dev/null
  mmd -i "$image" ::TUNDRA ::TUNDRA/LOGS ::EFI
  mcopy -i "$image" "$work/short" ::TUNDRA/LOG.TXT
  mcopy -i "$image" "$work/short" ::TUNDRA/FILLER.TXT
  mcopy -i "$image" "$work/long" ::TUNDRA/CRASH.BIN
  mcopy -i "$image" "$work/short" ::TUNDRA/KLOG.OLD
  mcopy -i "$image" "$work/short" ::TUNDRA/ROOT.TAR
  mcopy -i "$image" "$work/short" ::TUNDRA/LOGS/README
  # Freeing FILLER.TXT's cluster and then writing a long file splits it.
  mdel -i "$image" ::TUNDRA/FILLER.TXT
  mcopy -i "$image" "$work/long" ::TUNDRA/LOGS/BOOT.TXT
  cp "$image" "$out/fat12-$size"
done
