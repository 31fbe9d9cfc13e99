#!/usr/bin/env bash
# Points a linked PE32+ executable's load-configuration directory (data
# directory 10) at its _load_config_used record (src/sys/load_config.cpp),
# which GNU ld 2.40 does not do by itself. Usage: set_load_config.sh EXE
set -euo pipefail
exe=$1
tools=x86_64-w64-mingw32

symbol=$("$tools-nm" "$exe" | awk '$3 == "_load_config_used" { print $1 }')
[ -n "$symbol" ] || { echo "set_load_config: no _load_config_used in $exe"; exit 1; }
image_base=$("$tools-objdump" -p "$exe" | awk '$1 == "ImageBase" { print $2 }')
rva=$((0x$symbol - 0x$image_base))

# Little-endian unsigned value of `count` bytes at `offset`.
read_le() {
  od -An -t u"$2" -j "$1" -N "$2" --endian=little "$exe" | tr -d ' '
}
write_le32() {
  local offset=$1 value=$2 bytes="" i
  for ((i = 0; i < 4; i++)); do
    bytes+=$(printf '\\x%02x' $(((value >> (8 * i)) & 255)))
  done
  printf '%b' "$bytes" | dd of="$exe" bs=1 seek="$offset" conv=notrunc status=none
}

pe=$(read_le 60 4)
optional=$((pe + 24))
[ "$(read_le "$optional" 2)" -eq $((0x20b)) ] || { echo "set_load_config: $exe is not PE32+"; exit 1; }
[ "$(read_le $((optional + 108)) 4)" -gt 10 ] || { echo "set_load_config: too few directories"; exit 1; }

# The record's own first field is its size: find its place in the file
# through the section that holds it.
address=$((0x$symbol))
record=""
while read -r index _ size vma _ file_offset _; do
  [[ "$index" =~ ^[0-9]+$ ]] || continue
  if ((address >= 0x$vma && address < 0x$vma + 0x$size)); then
    record=$((address - 0x$vma + 0x$file_offset))
    break
  fi
done < <("$tools-objdump" -h "$exe")
[ -n "$record" ] || { echo "set_load_config: the record lies in no section"; exit 1; }
size=$(read_le "$record" 4)

directory=$((optional + 112 + 10 * 8))
write_le32 "$directory" "$rva"
write_le32 $((directory + 4)) "$size"
echo "set_load_config: $(basename "$exe"): load configuration at RVA $(printf '0x%x' "$rva"), $size bytes"
