#!/usr/bin/env bash
# Seeds: the first sectors of disks partitioned by sgdisk.
set -euo pipefail
out=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 4M "$work/disk"
sgdisk -o -n 1:2048:+1M -t 1:EF00 -n 2:0:0 -t 2:4A3C7D1E-6B2F-4E55-9A47-54554E445241 \
  "$work/disk" >/dev/null
head -c 17408 "$work/disk" >"$out/two-partitions"
