#!/usr/bin/env bash
# Seed: a geometry share byte, a 40-byte DISK_GEOMETRY_EX and a
# STORAGE_DEVICE_DESCRIPTOR with vendor, product, revision and serial.
set -euo pipefail
out=$1
{
  printf '\x28'
  printf '\x00%.0s' {1..20}; printf '\x00\x02\x00\x00'; printf '\x00\x00\x00\xbb\x03\x00\x00\x00'
  printf '\x00%.0s' {1..8}
  printf '\x28\x00\x00\x00\x4a\x00\x00\x00\x00\x00\x01\x00\x28\x00\x00\x00\x2f\x00\x00\x00'
  printf '\x35\x00\x00\x00\x3a\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf 'Tundra\0Flash\0'; printf '1.00\0'; printf ' SN0001 \0'
} >"$out/usb-stick"
