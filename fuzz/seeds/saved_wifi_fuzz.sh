#!/usr/bin/env bash
# Seeds: a flags byte, the old partition's length, an old stick's FAT12
# TUNDRA partition with saved networks in TUNDRA\WIFI.KEY, then a new image's
# partition whose WIFI.KEY is a placeholder of spaces; once with 512-byte
# sectors, once with 4096-byte sectors and clusters; and once more with
# 512-byte sectors, the placeholder's chain (clusters 3 to 10) turned back
# from its second cluster to its first.
set -euo pipefail
out=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
printf 'ssid=home\npsk=correct horse\nssid=office\tpsk=battery staple\n' >"$work/networks"
head -c 4096 /dev/zero | tr '\0' ' ' >"$work/placeholder"
volume() { # FILE SECTOR-BYTES KIB CONTENT
  mkfs.fat -F 12 -s 1 -S "$2" -C "$1" "$3" >/dev/null
  mmd -i "$1" ::TUNDRA
  mcopy -i "$1" "$4" ::TUNDRA/WIFI.KEY
}
for spec in "0 512 64" "1 4096 256" "0 512 64 loop"; do
  set -- $spec
  volume "$work/old" "$2" "$3" "$work/networks"
  volume "$work/new" "$2" "$3" "$work/placeholder"
  if [ "${4:-}" = loop ]; then
    # Cluster 4's FAT12 entry, the low byte of 0x005 (one reserved sector).
    [ "$(od -An -tx1 -j 518 -N 1 "$work/new" | tr -d ' ')" = 05 ]
    printf '\x03' | dd of="$work/new" bs=1 seek=518 conv=notrunc status=none
  fi
  size=$(stat -c %s "$work/old")
  {
    printf "\\x0$1"
    printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8 & 255)))"
    printf "\\x$(printf %02x $((size >> 16 & 255)))\\x00"
    cat "$work/old" "$work/new"
  } >"$out/sectors-$2${4:+-$4}"
  rm -f "$work/old" "$work/new"
done
