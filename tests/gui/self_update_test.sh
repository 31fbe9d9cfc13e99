#!/usr/bin/env bash
# The self-update end to end, under Xvfb and Wine, against the local download
# host: each case runs a copy of the installer's test build in a folder of
# its own, without administrator rights and with the update check on, while
# the host announces release 6 (a small program that leaves a mark when it
# is started, published by tundra-release with the test key).
#
#   - release 6 with the right bytes: the copy replaces itself and starts the
#     new build; what Wine does with each step is printed;
#   - an executable one byte longer, one byte shorter or with one wrong byte:
#     no update, the idle text, nothing new beside the copy;
#   - a second instance started while the first is checking skips its check;
#   - the copy replaced on disk during the check, and a folder that cannot be
#     written: the warning, and nothing left beside the executable;
#   - an elevated instance never asks for the update manifest;
#   - the release tool reads the test build's own release (5) and refuses to
#     announce it as 6.
#
#   self_update_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER DOWNLOAD_HOST_FOLDER \
#                       RELEASE_TOOL PAYLOAD_EXE
#
# Needs DISPLAY (scripts/test starts Xvfb), WINEPREFIX and the download host
# running (its CTest fixture); exits 77 (skipped) without a display. Leaves
# the host's tree as it found it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=gui_test.sh
source "$here/gui_test.sh"
gui_test_begin 6 "self_update_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER \
DOWNLOAD_HOST_FOLDER RELEASE_TOOL PAYLOAD_EXE" "$@"
installer=$1
ROAD_INSPECTOR=$2
ROAD_OUT=$3
host=$4
tool=$5
payload=$6
# shellcheck source=road.sh
source "$here/road.sh"
rm -rf "$ROAD_OUT" && mkdir -p "$ROAD_OUT"

# The tool takes a secret key only from an owner-only file.
key=$ROAD_OUT/test-signing.key
install -m 600 "$root/tests/fixtures/release_test_key/test-signing.key" "$key"
pub=$("$tool" public-key "$key") || { echo "FAIL: the release tool cannot read the test key"; exit 1; }
site=$host/site
access_log=$host/logs/access.log
exe_on_host=$site/install/tundra-usb-installer-x64.exe
road_require_download_host "$host" || exit 1
[ -f "$site/install/updates/x64.txt" ] || { echo "FAIL: the download host publishes no update"; exit 1; }

# The host's update resources go back as they were, whatever happens here.
saved=$ROAD_OUT/saved-host
mkdir -p "$saved"
cp -p "$site/install/updates/x64.txt" "$exe_on_host" "$site/install/index.html" "$saved"/
unwritable=""
restore() {
  cp -p "$saved/x64.txt" "$site/install/updates/x64.txt"
  cp -p "$saved/tundra-usb-installer-x64.exe" "$exe_on_host"
  cp -p "$saved/index.html" "$site/install/index.html"
  if [ -n "$unwritable" ]; then
    chattr -i "$unwritable" 2>/dev/null
    chmod u+w "$unwritable"
  fi
}
trap restore EXIT

road_prepare_prefix

idle="Windows administrator access is required to write a USB stick."
checking="Checking for installer updates…"
warning="Update available at localhost/install. This copy could not be replaced."
not_elevated=$'elevated no\nsystem-disk 0'
exe_name=tundra-usb-installer-x64.exe
# This run's own part of every name that outlives it (the host's access log
# may hold the requests of an earlier run, whose shell had the same pid).
run_id=$$-$(date +%s%N)

# A gate for an instance's connections (TUNDRA_SIM_CONNECT_GATE): prints the
# variable's setting; the instance's check waits at its first connection
# until open_gate NAME.
gate_setting() { echo "TUNDRA_SIM_CONNECT_GATE=$(winepath -w "$ROAD_OUT/$1.gate" 2>/dev/null)"; }
open_gate() { touch "$ROAD_OUT/$1.gate"; }

# A copy of the installer's test build in a folder of its own; prints its path.
fresh_copy() {
  mkdir -p "$ROAD_OUT/$1"
  cp "$installer" "$ROAD_OUT/$1/$exe_name"
  echo "$ROAD_OUT/$1/$exe_name"
}

# start_copy NAME EXE MACHINE [VAR=VALUE...]: starts the copy with the update
# check on; sets road_pid and road_log. Does not wait for the window: an
# instance that updates itself may be gone before it could be seen.
start_copy() {
  local name=$1 exe=$2 description=$3
  shift 3
  local machine="$ROAD_OUT/$name.machine"
  road_log="$ROAD_OUT/$name.ui.log"
  printf '%s\n' "$description" >"$machine"
  env "$@" TUNDRA_SIM_UPDATES=check TUNDRA_SIM_DESCRIPTION="$(winepath -w "$machine" 2>/dev/null)" \
    TUNDRA_SIM_LOG="$(winepath -w "$road_log" 2>/dev/null)" wine "$exe" &
  road_pid=$!
}

# The status texts a log shows after "Checking for installer updates…".
statuses_after_check() {
  grep -a '^status ' "$1" 2>/dev/null | cut -d' ' -f2- | awk -v c="$checking" 'seen; $0 == c {seen=1}'
}
check_ended_with() { [ "$(statuses_after_check "$1")" = "$2" ]; }
shows_status() { grep -aqxF "status $2" "$1" 2>/dev/null; }
started_up() { grep -aqx 'message-loop' "$1" 2>/dev/null; }

# Everything in the copy's folder besides the executable.
beside() { find "$(dirname "$1")" -mindepth 1 ! -name "$exe_name" -printf '%f\n' | sort; }

log_lines() { wc -l <"$access_log"; }
# Requests for $2 logged after line $1 of the access log, with their agents.
requests_since() { tail -n +"$(($1 + 1))" "$access_log" | grep -c "^$2 " || true; }
# A request of our own that nginx logs once it is done: whatever came before
# it is in the log by then.
mark_access_log() {
  local marker="/test/empty?marker=self-update-$run_id-$1"
  printf 'GET %s HTTP/1.0\r\nHost: localhost\r\n\r\n' "$marker" |
    openssl s_client -quiet -connect 127.0.0.1:443 -servername localhost >/dev/null 2>&1
  road_wait_for 5 "the marker request $1 in the access log" grep -q "^$marker " "$access_log" ||
    fail "the marker request $1 was not logged"
}

# Two installer windows are shown. They open at the same place, where
# xdotool's --onlyvisible lists only one of them: each one's map state is asked.
two_windows_shown() {
  local w count=0
  for w in $(xdotool search --name '^Tundra USB Installer$' 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' && count=$((count + 1))
  done
  [ "$count" -ge 2 ]
}

# end_copy: closes the instance with its close button; it must end with 0.
end_copy() {
  road_wid=$(road_visible_window '^Tundra USB Installer$')
  road_close || fail "$1: did not close with code 0"
}

echo "== the release tool reads the test build's release"
out=$("$tool" sign-update "$key" 6 "$installer" "$ROAD_OUT/x.txt" 2>&1)
[[ "$out" == *"is release 5, not 6"* ]] || fail "sign-update on the test build: $out"

echo "== publishing release 6 (the update payload) with tundra-release"
"$tool" sign-update "$key" 6 "$payload" "$ROAD_OUT/x64.txt" >/dev/null ||
  { echo "FAIL: sign-update refused the payload"; exit 1; }
"$tool" publish-update "$pub" "$site" "$ROAD_OUT/x64.txt" "$payload" 2>/dev/null | sed 's/^/  /'
cmp -s "$payload" "$exe_on_host" || { echo "FAIL: the payload is not published"; exit 1; }

echo "== release 6 with the right bytes: the copy replaces itself"
exe=$(fresh_copy update)
before=$(log_lines)
start_copy update "$exe" "$not_elevated"
if road_wait_until 60 road_ended; then
  wait "$road_pid"
  code=$?
  [ "$code" -eq 0 ] || fail "the updated instance ended with code $code"
  shows_status "$road_log" "$checking" || fail "no \"$checking\" was shown"
  [ -z "$(statuses_after_check "$road_log")" ] || fail "statuses after the check: $(statuses_after_check "$road_log")"
  echo "  access log: $(tail -n +"$((before + 1))" "$access_log" | grep '^/install/' | tr '\n' ';')"
  [ "$(requests_since "$before" '/install/updates/x64.txt "Tundra USB Installer release 5"')" -eq 1 ] ||
    fail "the manifest was not asked for once with the release 5 agent"
  cmp -s "$payload" "$exe" && echo "  the executable's path holds exactly the downloaded bytes" ||
    fail "the executable's path does not hold the new build"
  road_wait_until 20 test -f "$exe.started" && echo "  the new build was started: $(head -n1 "$exe.started" | tr -d '\r')" ||
    fail "the new build was not started"
  listing=$(beside "$exe")
  echo "  beside the executable now: $(tr '\n' ' ' <<<"$listing")"
  grep -q 'tundra-new-' <<<"$listing" && fail "a new-file name is left: $listing"
  previous=$(find "$(dirname "$exe")" -name "$exe_name.tundra-previous-*")
  if [ -n "$previous" ]; then
    echo "  Wine refused the POSIX delete: the previous build stays as $(basename "$previous")"
    cmp -s "$installer" "$previous" || fail "the previous file is not the build that ran"
  else
    echo "  the previous build was deleted"
  fi
else
  kill "$road_pid" 2>/dev/null
  fail "the instance did not end by updating itself; statuses: $(grep -a '^status ' "$road_log" | tr '\n' ';')"
fi

echo "== executables that are not the announced one: no update"
wrong_exes=$ROAD_OUT/wrong-exes
mkdir -p "$wrong_exes"
head -c 1 /dev/urandom >"$ROAD_OUT/one-byte"
cp "$payload" "$wrong_exes/longer" && cat "$ROAD_OUT/one-byte" >>"$wrong_exes/longer"
head -c "$(($(stat -c %s "$payload") - 1))" "$payload" >"$wrong_exes/shorter"
cp "$payload" "$wrong_exes/flipped"
offset=$(($(stat -c %s "$payload") / 2))
printf "\\x$(printf %02x $((($(od -An -tu1 -j "$offset" -N1 "$payload") ^ 1))))" |
  dd of="$wrong_exes/flipped" bs=1 seek="$offset" conv=notrunc status=none
[ "$(cmp -l "$payload" "$wrong_exes/flipped" | wc -l)" -eq 1 ] || fail "the flipped copy is not one byte off"
for wrong in longer shorter flipped; do
  cp "$wrong_exes/$wrong" "$exe_on_host"
  exe=$(fresh_copy "$wrong")
  before=$(log_lines)
  start_copy "$wrong" "$exe" "$not_elevated"
  if road_wait_until 30 check_ended_with "$road_log" "$idle"; then
    [ "$(requests_since "$before" '/install/tundra-usb-installer-x64.exe "Tundra USB Installer release 5"')" -eq 1 ] ||
      fail "$wrong: the executable was not downloaded once"
    cmp -s "$installer" "$exe" || fail "$wrong: the executable changed"
    [ -z "$(beside "$exe")" ] || fail "$wrong: left beside the executable: $(beside "$exe")"
    road_wait_until 10 road_has_main_window && road_wait_until 5 road_shows_line "control 104 1 Enable USB access" ||
      fail "$wrong: the action button is not enabled after the check"
    echo "  $wrong: the idle text, nothing beside the executable"
    end_copy "$wrong"
  else
    fail "$wrong: the check did not end with the idle text: $(statuses_after_check "$road_log")"
    kill "$road_pid" 2>/dev/null
  fi
done
cp "$payload" "$exe_on_host"

echo "== a second instance while the first checks"
first_exe=$(fresh_copy first)
second_exe=$(fresh_copy second)
# The first one's check waits at its gate until the second has started.
start_copy first "$first_exe" "$not_elevated" "$(gate_setting first)"
first_pid=$road_pid
first_log=$road_log
if road_wait_for 30 "the first instance's \"$checking\"" shows_status "$first_log" "$checking"; then
  start_copy second "$second_exe" "$not_elevated"
  second_pid=$road_pid
  second_log=$road_log
  road_wait_for 30 "two installer windows" two_windows_shown || fail "the second window did not appear"
  # Its start-up, which took or skipped the check, ends as its message loop begins.
  road_wait_for 30 "the second instance's message loop" started_up "$second_log" ||
    fail "the second instance did not finish its start-up"
  shows_status "$second_log" "$checking" && fail "the second instance showed \"$checking\""
  [ -z "$(statuses_after_check "$first_log")" ] && kill -0 "$first_pid" 2>/dev/null ||
    fail "the first instance was no longer checking when the second started"
  open_gate first
  road_pid=$first_pid
  road_wait_until 60 road_ended || fail "the first instance did not end by updating itself"
  cmp -s "$payload" "$first_exe" || fail "the first instance did not update itself"
  [ "$(grep -a '^status ' "$second_log" | cut -d' ' -f2-)" = "$idle" ] ||
    fail "the second instance's statuses: $(grep -a '^status ' "$second_log" | tr '\n' ';')"
  cmp -s "$installer" "$second_exe" && [ -z "$(beside "$second_exe")" ] ||
    fail "the second instance's folder changed"
  echo "  the second instance skipped its check; the first one updated itself"
  road_pid=$second_pid
  end_copy second
else
  fail "the first instance never showed \"$checking\""
  kill "$first_pid" 2>/dev/null
fi

echo "== the executable replaced on disk during the check"
exe=$(fresh_copy replaced)
start_copy replaced "$exe" "$not_elevated" "$(gate_setting replaced)"
if road_wait_for 30 "\"$checking\"" shows_status "$road_log" "$checking"; then
  # Another program puts a different file at the executable's path, as a
  # browser saving a download over it would: a new file, not the one running.
  cp "$installer" "$ROAD_OUT/replacement" && cat "$ROAD_OUT/one-byte" >>"$ROAD_OUT/replacement"
  cp "$ROAD_OUT/replacement" "$exe.saving" && mv "$exe.saving" "$exe"
  open_gate replaced
  if road_wait_until 30 check_ended_with "$road_log" "$warning"; then
    cmp -s "$ROAD_OUT/replacement" "$exe" || fail "the file at the executable's path changed"
    [ -z "$(beside "$exe")" ] || fail "left beside the executable: $(beside "$exe")"
    echo "  the warning; the replacement untouched and nothing beside it"
    end_copy replaced
  else
    fail "the check did not end with the warning: $(statuses_after_check "$road_log")"
    kill "$road_pid" 2>/dev/null
  fi
else
  fail "the instance never showed \"$checking\""
  kill "$road_pid" 2>/dev/null
fi

echo "== a folder that cannot be written"
exe=$(fresh_copy read-only)
folder=$(dirname "$exe")
unwritable=$folder
chmod a-w "$folder"
if touch "$folder/probe" 2>/dev/null; then
  rm -f "$folder/probe"
  chattr +i "$folder" 2>/dev/null  # root writes anywhere, but not into an immutable folder
fi
if touch "$folder/probe" 2>/dev/null; then
  rm -f "$folder/probe"
  fail "no folder can be made unwritable here (neither permissions nor chattr +i hold)"
else
  start_copy read-only "$exe" "$not_elevated"
  if road_wait_until 30 check_ended_with "$road_log" "$warning"; then
    [ -z "$(beside "$exe")" ] || fail "left beside the executable: $(beside "$exe")"
    cmp -s "$installer" "$exe" || fail "the executable changed"
    echo "  the warning; nothing beside the executable"
    end_copy read-only
  else
    fail "the check did not end with the warning: $(statuses_after_check "$road_log")"
    kill "$road_pid" 2>/dev/null
  fi
fi
chattr -i "$folder" 2>/dev/null
chmod u+w "$folder"
unwritable=""

echo "== an elevated instance"
exe=$(fresh_copy elevated)
before=$(log_lines)
start_copy elevated "$exe" $'elevated yes\nsystem-disk 0'
if road_wait_until 30 road_has_main_window; then
  road_wid=$(road_visible_window '^Tundra USB Installer$')
  # Its message loop runs, so its start-up is over.
  road_click version
  road_wait_until 10 shows_status "$road_log" \
    "Tundra selected. The latest public release downloads automatically." ||
    fail "the elevated instance did not answer"
  shows_status "$road_log" "$checking" && fail "the elevated instance showed \"$checking\""
  end_copy elevated
  mark_access_log elevated
  [ "$(requests_since "$before" '/install/updates/x64.txt')" -eq 0 ] ||
    fail "the elevated instance asked for the update manifest"
  echo "  no request for the update manifest"
else
  fail "the elevated instance showed no window"
  kill "$road_pid" 2>/dev/null
fi

gui_test_end "all self-update checks passed"
