#!/usr/bin/env bash
# tundra-stick as a user runs it, on target files made from sticks and images
# that mkfs.fat and mtools wrote: each command's main path, a write whose
# image the target already holds (nothing is written), a run that fails, and
# each refused option (exit code 2, a message that names it, nothing done).
# Paths with non-ASCII names go in as arguments and come back in the lines.
#
#   tundra_stick_test.sh EMULATOR TOOL IMAGE_DIR WORK_DIR
#
# EMULATOR is empty for the host build and wine for the Windows build (with
# WINEPREFIX set and its wineserver running).
set -uo pipefail
emulator=$1
tool=$2
images=$3
work=$4
export LC_ALL=C.UTF-8 WINEDEBUG=-all MTOOLS_SKIP_CHECK=1
rm -rf "$work"
mkdir -p "$work"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A path as a user of this build types it: the Windows form under Wine.
as_arg() {
  if [ -n "$emulator" ]; then
    local p=${1//\//\\}
    printf 'Z:%s' "$p"
  else
    printf '%s' "$1"
  fi
}

# run ARGS...: the tool's exit code in rc, its output in out and err.
run() {
  $emulator "$tool" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "$2: exit code $rc, not $1; stderr: $err"; }
has_line() { grep -Fxq -- "$1" <<<"$out" || fail "$2: no line \"$1\" in:"$'\n'"$out"; }

folder="$work/Ünïcode 日本"
mkdir -p "$folder"
cp "$images/wifi-new.img" "$folder/new.img"
image_arg=$(as_arg "$folder/new.img")

# write: the new image over an old stick whose Wi-Fi networks are carried over.
cp "$images/wifi-old-100.img" "$work/stick.img"
run write --image "$image_arg" --target "$(as_arg "$work/stick.img")"
expect_rc 0 "write"
[ "$(head -n1 <<<"$out")" = "image: $image_arg, 6.0 MiB" ] || fail "write: first line: $(head -n1 <<<"$out")"
has_line "plan: only the TUNDRA partition (4.0 MiB at 1.0 MiB); the data area and the partition table are kept as they are" "write"
has_line "the stick's saved Wi-Fi networks (TUNDRA\\WIFI.KEY) will be carried over" "write"
has_line "carried over the saved Wi-Fi networks (TUNDRA\\WIFI.KEY, read back as written)" "write"
case $(tail -n1 <<<"$out") in
  "done in "*", with its saved Wi-Fi networks kept in TUNDRA\\WIFI.KEY") ;;
  *) fail "write: last line: $(tail -n1 <<<"$out")" ;;
esac
[ -z "$err" ] || fail "write: stderr: $err"
# What mtools reads back: the saved 100 bytes, then spaces to the placeholder's size.
{
  cat "$images/wifi-sources/100.key"
  head -c 3996 /dev/zero | tr '\0' ' '
} >"$work/expected.key"
mtype -i "$work/stick.img@@1M" ::/TUNDRA/WIFI.KEY >"$work/stick.key" 2>/dev/null
cmp -s "$work/expected.key" "$work/stick.key" || fail "write: WIFI.KEY is not the carried networks"
mtype -i "$work/stick.img@@1M" ::/TUNDRA/KERNEL.ELF >"$work/stick.kernel" 2>/dev/null
mtype -i "$images/wifi-new.img@@1M" ::/TUNDRA/KERNEL.ELF >"$work/image.kernel" 2>/dev/null
cmp -s "$work/stick.kernel" "$work/image.kernel" || fail "write: the new kernel is not on the stick"

# The printed digests, against sha256sum of the bytes they name: above, the
# image's TUNDRA partition (4 MiB from 1 MiB; the stick keeps its data area);
# then the whole image onto a blank target, without --sha256 (hashed while
# reading) and with it (the same digests, taken from the checked one).
partition_sha=$(dd if="$images/wifi-new.img" bs=1M skip=1 count=4 status=none | sha256sum | cut -d' ' -f1)
has_line "the image's TUNDRA partition: sha256 $partition_sha" "write"
grep -q "^read all 4.0 MiB back in .* s: stick sha256 $partition_sha\$" <<<"$out" ||
  fail "write: no read-back line with the partition's digest in:"$'\n'"$out"
image_sha=$(sha256sum "$images/wifi-new.img" | cut -d' ' -f1)
for checked in "" "--sha256 $image_sha"; do
  head -c 6291456 /dev/zero >"$work/blank.img"
  # shellcheck disable=SC2086 # two words or none
  run write --image "$image_arg" --target "$(as_arg "$work/blank.img")" $checked
  expect_rc 0 "write onto a blank target ${checked:+with --sha256}"
  has_line "image sha256 $image_sha" "write onto a blank target ${checked:+with --sha256}"
  has_line "plan: the whole image (6.0 MiB), partition table included" "write onto a blank target"
  grep -q "^read all 6.0 MiB back in .* s: stick sha256 $image_sha\$" <<<"$out" ||
    fail "write onto a blank target ${checked:+with --sha256}: no read-back line with its digest"
  cmp -s "$images/wifi-new.img" "$work/blank.img" || fail "write onto a blank target: not the image"
done

# A write whose image the target already holds writes nothing.
cp "$images/logs.img" "$work/same.img"
touch -d '2024-03-01 12:00:00' "$work/same.img"
before=$(stat -c %y "$work/same.img")
run write --image "$(as_arg "$images/logs.img")" --target "$(as_arg "$work/same.img")"
expect_rc 0 "write of the same image"
has_line "the stick already holds this image: nothing written" "write of the same image"
cmp -s "$images/logs.img" "$work/same.img" || fail "write of the same image: the target changed"
[ "$(stat -c %y "$work/same.img")" = "$before" ] || fail "write of the same image: the target was written"

# A dry run with --logs: the logs are copied, the stick is not written.
cp "$images/logs.img" "$work/logs-stick.img"
run write --image "$image_arg" --target "$(as_arg "$work/logs-stick.img")" --fresh --dry-run \
  --logs "$(as_arg "$folder/dry logs")"
expect_rc 0 "write --dry-run --logs"
[ "$(tail -n1 <<<"$out")" = "--dry-run: nothing written" ] || fail "dry run: last line: $(tail -n1 <<<"$out")"
cmp -s "$images/logs.img" "$work/logs-stick.img" || fail "dry run: the target changed"
# The logs that are copied, as they were put on the stick.
expected_logs="$work/expected-logs"
mkdir -p "$expected_logs/LOGS"
for f in LOG.TXT CRASH.BIN KLOG.OLD LOGS/BIG.LOG LOGS/README LOGS/EMPTY.LOG; do
  cp "$images/logs-sources/TUNDRA/$f" "$expected_logs/$f"
done
diff -r "$expected_logs" "$folder/dry logs" >/dev/null || fail "dry run: the logs folder differs"

# logs: the copy alone, with a line per file.
run logs --target "$(as_arg "$work/logs-stick.img")" --logs "$(as_arg "$work/logs")"
expect_rc 0 "logs"
has_line "copied TUNDRA\\LOG.TXT (20 bytes)" "logs"
has_line "copied TUNDRA\\LOGS\\BIG.LOG (1048576 bytes)" "logs"
has_line "copied TUNDRA\\LOGS\\EMPTY.LOG (0 bytes)" "logs"
diff -r "$expected_logs" "$work/logs" >/dev/null || fail "logs: the folder differs"
cmp -s "$images/logs.img" "$work/logs-stick.img" || fail "logs: the target changed"

# A second copy into the same folder leaves the first as it is and takes
# numbered names beside it.
run logs --target "$(as_arg "$work/logs-stick.img")" --logs "$(as_arg "$work/logs")"
expect_rc 0 "logs again"
has_line "copied TUNDRA\\LOG.TXT (20 bytes) as LOG (2).TXT, as LOG.TXT is taken" "logs again"
diff -r "$expected_logs" "$work/logs" -x '* (2)*' >/dev/null || fail "logs again: the first copy changed"
cmp -s "$expected_logs/LOG.TXT" "$work/logs/LOG (2).TXT" || fail "logs again: no LOG (2).TXT"
cmp -s "$expected_logs/LOGS/README" "$work/logs/LOGS/README (2)" || fail "logs again: no README (2)"

# backup: the whole stick into a new file, never over an existing one.
backup_arg=$(as_arg "$folder/backup.img")
run backup --target "$(as_arg "$work/stick.img")" --out "$backup_arg"
expect_rc 0 "backup"
sha=$(sha256sum "$work/stick.img" | cut -d' ' -f1)
has_line "backed up 6291456 bytes (6.0 MiB) into $backup_arg: sha256 $sha" "backup"
cmp -s "$work/stick.img" "$folder/backup.img" || fail "backup: the file is not the stick"
run backup --target "$(as_arg "$images/logs.img")" --out "$backup_arg"
expect_rc 1 "backup over a file"
[ "$(head -n1 <<<"$err")" = "$backup_arg already exists: a backup never replaces a file" ] ||
  fail "backup over a file: $err"
cmp -s "$work/stick.img" "$folder/backup.img" || fail "backup over a file: the file changed"

# list: Wine always runs elevated and its volumes have no extents, so no
# disk can be told from the one Windows runs from; the host has no token.
run list
if [ -n "$emulator" ]; then
  expect_rc 0 "list"
  case $out in "no stick found"*) ;; *) fail "list: $out" ;; esac
else
  expect_rc 1 "list"
  case $err in "tundra-stick list needs an administrator"*) ;; *) fail "list: $err" ;; esac
fi

# A run that fails: its reason on standard error, exit code 1.
head -c 1048576 /dev/zero >"$work/small.img"
run write --image "$image_arg" --target "$(as_arg "$work/small.img")"
expect_rc 1 "write onto a small target"
[ "$(head -n1 <<<"$err")" = "the image (6.0 MiB) is larger than the stick (1.0 MiB)" ] ||
  fail "write onto a small target: $err"

# Failures in words. The system's words for a Windows error are the C
# library's on the host and Windows' own (here Wine's) in the Windows build.
if [ -n "$emulator" ]; then
  words_2="File not found"
  words_5="Access denied"
  words_5_folder=$words_5
else
  words_2="No such file or directory"
  words_5_folder="Is a directory"
fi
# expect_err NAME EXIT-CODE STDERR ARGS...: the exact lines on standard error.
expect_err() {
  local name=$1 code=$2 expected=$3
  shift 3
  run "$@"
  expect_rc "$code" "$name"
  [ "$err" = "$expected" ] || fail "$name: stderr is"$'\n'"$err"$'\n'"not"$'\n'"$expected"
}
cp "$images/wifi-old-100.img" "$work/kept.img"
kept=$(as_arg "$work/kept.img")
missing=$(as_arg "$work/missing.img")
mkdir -p "$work/a folder.img"
folder_arg=$(as_arg "$work/a folder.img")
expect_err "a missing image" 1 \
  "cannot open the image $missing (Windows error 2: $words_2)
no file has that name there: check the name and its folder" \
  write --image "$missing" --target "$kept"
expect_err "a folder as the image" 1 \
  "cannot open the image $folder_arg (Windows error 5: $words_5_folder)
$folder_arg is a folder: give a file" \
  write --image "$folder_arg" --target "$kept"
expect_err "a missing target file" 1 \
  "cannot open the target file $missing (Windows error 2: $words_2)
a target file must exist and be at least as large as the image: make one first (truncate -s 8G stick.img on Linux, fsutil file createnew stick.img 8000000000 on Windows)" \
  write --image "$image_arg" --target "$missing"
wrong_sha=$(printf '%064d' 0)
expect_err "a wrong digest" 1 \
  "the image's SHA-256 is $image_sha, not $wrong_sha as --sha256 says: nothing written" \
  write --image "$image_arg" --target "$kept" --sha256 "$wrong_sha"
# The digest is judged by the compare's own reads: after the plan is said,
# and before anything is reported as compared, hashed or written.
[ "$(head -n1 <<<"$out")" = "image: $image_arg, 6.0 MiB" ] || fail "a wrong digest: no image line: $out"
grep -Eq '^(compared|image sha256|wrote|read back|read all|done)' <<<"$out" &&
  fail "a wrong digest: the run went on past the verdict: $out"
# Image and target one file, by any name: refused before anything is read.
ln -sf "$work/kept.img" "$work/link.img"
same="--image and --target are the same file: a file written onto itself proves nothing (give --target a file that stands in for the stick)"
for other in "$work/kept.img" "$work/./kept.img" "$work/link.img"; do
  expect_err "the same file as $other" 2 "$same" write --image "$kept" --target "$(as_arg "$other")"
  [ -z "$out" ] || fail "the same file as $other: printed $out"
done
cmp -s "$images/wifi-old-100.img" "$work/kept.img" || fail "a failed or refused write changed the target"

# A read-only file system and a full disk, each a small file system in a
# private mount namespace: only on the host build (Wine's server, which opens
# the files, sees no such namespace) and only where one can be made.
# in_namespace SETUP ARGS...: the tool after SETUP, with $1 a fresh folder.
in_namespace() {
  local setup=$1
  shift
  rm -rf "$work/ns"
  mkdir -p "$work/ns"
  unshare -m bash -c "$setup"' || exit 99; "$@"; rc=$?; ls -A "$0" >"$0.left"; exit $rc' \
    "$work/ns" "$tool" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
if [ -z "$emulator" ] && unshare -m true 2>/dev/null; then
  in_namespace 'mount -t tmpfs -o size=8m none "$0" && cp "'"$work/kept.img"'" "$0/t.img" &&
    mount -o remount,ro "$0"' write --image "$image_arg" --target "$work/ns/t.img"
  expect_rc 1 "a read-only target"
  [ "$err" = "cannot open the target file $work/ns/t.img (Windows error 19: Read-only file system)
the file is on a read-only disk or file system: put it on a writable one, or make that writable" ] ||
    fail "a read-only target: $err"
  in_namespace 'mount -t tmpfs -o size=2m none "$0"' \
    backup --target "$work/kept.img" --out "$work/ns/backup.img"
  expect_rc 1 "a backup onto a full disk"
  [ "$err" = "cannot write $work/ns/backup.img (Windows error 112: No space left on device): the disk is full; the backup needs 6.0 MiB, the whole stick; the partial backup $work/ns/backup.img was removed
the disk is full: make room on it, or choose another disk" ] || fail "a backup onto a full disk: $err"
  [ -z "$(cat "$work/ns.left")" ] || fail "a backup onto a full disk left $(cat "$work/ns.left")"
else
  echo "skipped: a read-only target and a full disk (the host build only, where it can make a private mount namespace)"
fi

# logs on a stick whose TUNDRA folder holds no logs says so.
cp "$images/wifi-new-nokey.img" "$work/no-logs.img"
run logs --target "$(as_arg "$work/no-logs.img")" --logs "$(as_arg "$work/no logs")"
expect_rc 0 "logs with none to copy"
[ "$out" = "the stick's TUNDRA folder holds no logs (no TXT, BIN or KLOG.OLD file, nothing in TUNDRA\\LOGS): nothing copied" ] ||
  fail "logs with none to copy: $out"

run --help
expect_rc 0 "--help"
[ "$(head -n1 <<<"$out")" = "usage: tundra-stick COMMAND [OPTIONS]" ] || fail "--help: $out"

# Refused command lines: nothing runs, the target stays as it was.
cp "$images/wifi-old-100.img" "$work/untouched.img"
target=$(as_arg "$work/untouched.img")
refused() {
  local message=$1
  shift
  run "$@"
  expect_rc 2 "$message"
  [ "$(head -n1 <<<"$err")" = "$message" ] || fail "refused: \"$(head -n1 <<<"$err")\", not \"$message\""
  [ -z "$out" ] || fail "refused ($message): printed $out"
}
guid=0fc63daf-8483-4772-8e79-3d69d8477de4
nine_guids=()
for _ in 1 2 3 4 5 6 7 8 9; do nine_guids+=(--keep-guid "$guid"); done
write=(write --image "$image_arg" --target "$target")
refused "unknown option --force" "${write[@]}" --force
refused "--image needs a value" write --target "$target" --image
refused "--keep-guid takes a partition GUID of 36 characters, such as $guid" \
  "${write[@]}" --keep-guid "${guid:1}"
refused "--keep-guid can be given at most 8 times" "${write[@]}" "${nine_guids[@]}"
refused "--sha256 takes the image's SHA-256 as 64 hexadecimal digits" "${write[@]}" --sha256 abc
refused "--chunk-mib takes a whole number of MiB from 1 to 4" "${write[@]}" --chunk-mib 8
refused "--queue-depth takes a whole number from 1 to 8" "${write[@]}" --queue-depth 4294967297
refused "--max-gb is too large: at most 18446744073709551615" \
  "${write[@]}" --max-gb 99999999999999999999
refused "give --serial or --target, not both" "${write[@]}" --serial SN0001
refused "which image? --image FILE" write --target "$target"
refused "list does not take --fresh" list --fresh
refused "where to? --out FILE" backup --target "$target"
refused "--model checks a stick found by --serial: a --target file has no model" \
  "${write[@]}" --model Flash
refused "--max-gb checks a stick found by --serial: a --target file has no such size" \
  backup --target "$target" --out "$target.copy" --max-gb 64
refused "unknown option --img: did you mean --image?" write --img "$image_arg" --target "$target"
refused "unknown option --image=$image_arg: did you mean --image $image_arg (a space between, not =)?" \
  write "--image=$image_arg" --target "$target"
cmp -s "$images/wifi-old-100.img" "$work/untouched.img" || fail "a refused command line wrote"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "tundra-stick: every case passed"
