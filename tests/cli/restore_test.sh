#!/usr/bin/env bash
# tundra-stick restore as a user runs it, on sparse target files, checked by
# the tools a Linux machine trusts: sfdisk sees one partition from 1 MiB to
# the end, no GPT is left at either end, fsck.fat -n and fsck.exfat -n
# accept the volume, and a file copied in with mtools comes back byte for
# byte. Also a Tundra stick written by write and then restored, a dry run,
# refused labels and options, and that restoring writes only megabytes.
#
#   restore_test.sh EMULATOR TOOL IMAGE_DIR WORK_DIR
#
# EMULATOR is empty for the host build and wine for the Windows build (with
# WINEPREFIX set and its wineserver running). Exits 77 (skipped) when a
# checking tool is not installed (scripts/setup installs them all).
set -uo pipefail
emulator=$1
tool=$2
images=$3
work=$4
export LC_ALL=C.UTF-8 WINEDEBUG=-all MTOOLS_SKIP_CHECK=1
PATH=$PATH:/usr/sbin:/sbin
for needed in sfdisk fsck.fat fsck.exfat exfatlabel dump.exfat tune.exfat mcopy blkid fallocate; do
  if ! command -v "$needed" >/dev/null; then
    echo "SKIPPED: $needed is not installed"
    exit 77
  fi
done
rm -rf "$work"
mkdir -p "$work"
failures=0
MIB=1048576
GIB=1073741824

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

as_arg() {
  if [ -n "$emulator" ]; then
    local p=${1//\//\\}
    printf 'Z:%s' "$p"
  else
    printf '%s' "$1"
  fi
}

run() {
  $emulator "$tool" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "$2: exit code $rc, not $1; stdout: $out; stderr: $err"; }

# The partition alone, for fsck: a sparse copy with the first MiB cut away.
volume_of() {
  cp --sparse=always "$1" "$work/volume.img" && fallocate --collapse-range -o 0 -l $MIB "$work/volume.img"
}

# check_stick NAME FILE TYPE: one partition of TYPE from 1 MiB to the end, no
# GPT header at either end, and fsck accepts the volume.
check_stick() {
  local name=$1 file=$2 type=$3
  local size sectors
  size=$(stat -c %s "$file")
  sectors=$((size / 512))
  local table
  table=$(sfdisk --dump "$file" 2>&1)
  grep -q '^label: dos$' <<<"$table" || fail "$name: not an MBR: $table"
  [ "$(grep -c "^$file[0-9]* :" <<<"$table")" -eq 1 ] || fail "$name: not one partition: $table"
  grep -Eq "^${file}1 : start= *2048, size= *$((sectors - 2048)), type=$type\$" <<<"$table" ||
    fail "$name: not one partition of type $type from 1 MiB to the end: $table"
  [ "$(blkid -p -o value -s PTTYPE "$file")" = dos ] || fail "$name: blkid sees $(blkid -p "$file")"
  for lba in 1 $((sectors - 1)); do
    if dd if="$file" bs=512 skip="$lba" count=1 status=none | grep -q 'EFI PART'; then
      fail "$name: a GPT header is left at sector $lba"
    fi
  done
  volume_of "$file" || fail "$name: cannot cut the volume out"
  local fsck=fsck.fat
  [ "$type" = 7 ] && fsck=fsck.exfat
  # Warnings count too: fsck.fat -n exits 0 on "mostly harmless" ones.
  if ! $fsck -n "$work/volume.img" >"$work/fsck" 2>&1 || [ "$(wc -l <"$work/fsck")" -ne 2 ] ||
    ! tail -n1 "$work/fsck" | grep -Eq ': (clean\. directories [0-9]+, files [0-9]+|[0-9]+ files, [0-9]+/[0-9]+ clusters)$'; then
    fail "$name: $fsck -n does not pass it cleanly: $(cat "$work/fsck")"
  fi
  # fsck.exfat does not check the boot region's checksum; tune.exfat writes
  # it itself when it sets the serial, so setting the same serial must
  # change nothing.
  if [ "$type" = 7 ]; then
    local serial
    serial=$(dump.exfat "$work/volume.img" 2>/dev/null | awk '/Volume Serial/ {print $NF}')
    dd if="$work/volume.img" bs=512 count=24 status=none >"$work/boot-before"
    tune.exfat -I "$serial" "$work/volume.img" >/dev/null 2>&1 || fail "$name: tune.exfat -I $serial failed"
    dd if="$work/volume.img" bs=512 count=24 status=none >"$work/boot-after"
    cmp -s "$work/boot-before" "$work/boot-after" || fail "$name: the boot region's checksum is not the one tune.exfat writes"
  fi
}

# A Tundra stick, written by write, given back: 8 GB, so FAT32.
truncate -s 8000000000 "$work/tundra.img"
run write --image "$(as_arg "$images/tundra-release.img")" --target "$(as_arg "$work/tundra.img")" --fresh
expect_rc 0 "write of the Tundra stick"
[ "$(blkid -p -o value -s PTTYPE "$work/tundra.img")" = gpt ] || fail "the written stick has no GPT"
start=$(date +%s%N)
run restore --target "$(as_arg "$work/tundra.img")"
took_ms=$((($(date +%s%N) - start) / 1000000))
expect_rc 0 "restore of the Tundra stick"
[ "$(tail -n1 <<<"$out")" = "the stick is an ordinary USB stick again: FAT32, 7.4 GiB, label USB" ] ||
  fail "restore: last line: $out"
[ -z "$err" ] || fail "restore: stderr: $err"
check_stick "restored Tundra stick" "$work/tundra.img" c
[ "$(fatlabel "$work/volume.img" 2>/dev/null)" = USB ] || fail "the FAT32 label is not USB"
head -c 3000000 /dev/urandom >"$work/file.bin"
mcopy -i "$work/tundra.img@@1M" "$work/file.bin" ::FILE.BIN || fail "mcopy cannot copy a file in"
mcopy -i "$work/tundra.img@@1M" ::FILE.BIN "$work/back.bin" || fail "mcopy cannot copy the file out"
cmp -s "$work/file.bin" "$work/back.bin" || fail "the file copied in did not come back byte for byte"
check_stick "restored Tundra stick with a file" "$work/tundra.img" c
echo "restore of an 8 GB Tundra stick: ${took_ms} ms"

# Sparse sticks of the sizes the file system changes at, and --fs and
# --label across them; restoring writes only structures, so the files stay
# small.
restore_case() {
  local name=$1 bytes=$2 type=$3 closing=$4
  shift 4
  truncate -s "$bytes" "$work/stick.img"
  run restore --target "$(as_arg "$work/stick.img")" "$@"
  expect_rc 0 "$name"
  [ "$(tail -n1 <<<"$out")" = "$closing" ] || fail "$name: last line: $(tail -n1 <<<"$out")"
  local used_kib
  used_kib=$(du -k "$work/stick.img" | cut -f1)
  [ "$used_kib" -lt 81920 ] || fail "$name: $used_kib KiB written"
  check_stick "$name" "$work/stick.img" "$type"
  rm -f "$work/stick.img"
}
restore_case "32 GiB" $((32 * GIB)) c "the stick is an ordinary USB stick again: FAT32, 32.0 GiB, label USB"
restore_case "just over 32 GiB" $((32 * GIB + MIB)) 7 \
  "the stick is an ordinary USB stick again: exFAT, 32.0 GiB, label USB"
restore_case "64 GiB" $((64 * GIB)) 7 "the stick is an ordinary USB stick again: exFAT, 64.0 GiB, label USB"
[ "$(exfatlabel "$work/volume.img" 2>/dev/null | tail -n1)" = "label: USB" ] || fail "64 GiB: exFAT label"
restore_case "256 GiB" $((256 * GIB)) 7 "the stick is an ordinary USB stick again: exFAT, 256.0 GiB, label USB"
restore_case "8 GB with --fs exfat and a label" 8000000000 7 \
  "the stick is an ordinary USB stick again: exFAT, 7.4 GiB, label Fotos Köln" --fs exfat --label "Fotos Köln"
[ "$(exfatlabel "$work/volume.img" 2>/dev/null | tail -n1)" = "label: Fotos Köln" ] ||
  fail "exFAT label: $(exfatlabel "$work/volume.img" 2>&1)"
restore_case "64 GiB with --fs fat32" $((64 * GIB)) c \
  "the stick is an ordinary USB stick again: FAT32, 64.0 GiB, label CAMERA" --fs fat32 --label camera

# A dry run says what it would write and writes nothing.
cp --sparse=always "$images/tundra-release.img" "$work/dry.img"
truncate -s $((128 * MIB)) "$work/dry.img"
before=$(sha256sum <"$work/dry.img")
run restore --target "$(as_arg "$work/dry.img")" --dry-run
expect_rc 0 "restore --dry-run"
grep -q '^would write ' <<<"$out" || fail "dry run: no \"would write\" line: $out"
[ "$(tail -n1 <<<"$out")" = "--dry-run: nothing written" ] || fail "dry run: last line: $out"
[ "$(sha256sum <"$work/dry.img")" = "$before" ] || fail "dry run: the target changed"

# Labels a file system does not take, and a stick too small: refused before
# anything is written, in words that say why.
not_restored() {
  local expected=$1
  shift
  run restore --target "$(as_arg "$work/dry.img")" "$@"
  expect_rc 1 "$expected"
  [ "$err" = "$expected" ] || fail "refusal: \"$err\", not \"$expected\""
  [ "$(sha256sum <"$work/dry.img")" = "$before" ] || fail "refusal ($expected): the target changed"
}
not_restored "the label MY.STICK does not suit FAT32: at most 11 letters, digits, spaces and ! # \$ % & ' ( ) - @ ^ _ \` { } ~, not starting or ending with a space (--fs exfat takes more)" --label MY.STICK
not_restored "the label A:B does not suit exFAT: at most 11 characters, none of \" * / : < > ? \\ | and no control characters" --fs exfat --label "A:B"
truncate -s $((20 * MIB)) "$work/small.img"
run restore --target "$(as_arg "$work/small.img")"
expect_rc 1 "a 20 MiB stick"
[ "$err" = "the stick (20.0 MiB) is too small for FAT32: --fs exfat fits smaller sticks" ] ||
  fail "a 20 MiB stick: $err"

# Refused command lines.
refused() {
  local message=$1
  shift
  run "$@"
  expect_rc 2 "$message"
  [ "$(head -n1 <<<"$err")" = "$message" ] || fail "refused: \"$(head -n1 <<<"$err")\", not \"$message\""
}
target=$(as_arg "$work/dry.img")
refused "--fs takes fat32 or exfat" restore --target "$target" --fs ntfs
refused "--label needs a value" restore --target "$target" --label
refused "restore does not take --image" restore --target "$target" --image x.img
refused "which stick? --serial S (tundra-stick list shows the serial numbers), or --target FILE" restore
refused "write does not take --fs" write --image x.img --target "$target" --fs fat32
[ "$(sha256sum <"$work/dry.img")" = "$before" ] || fail "a refused command line wrote"
run --help
grep -q '^  restore (--serial S | --target FILE)' <<<"$out" || fail "--help does not show restore"

rm -f "$work"/*.img
if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "tundra-stick restore: every case passed"
