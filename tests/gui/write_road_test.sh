#!/usr/bin/env bash
# The road of one write, end to end in the window, under Xvfb and Wine: the
# test build of the installer on a simulated machine with three sticks (the
# first one's bytes in a sparse file) fetches the release that the local
# download host publishes, and a user's clicks and keys take it from the
# stick menu through the confirmation to a verified stick. The image comes
# through the fault relay, which resets the first connection a third of the
# way and stalls the second at two thirds: the download goes on from where
# each broke off. Then a stick that cannot be written, in the same window,
# is written from the image kept from the first write, with no second
# download, and ends in the failure dialog with the engine's reason; and an instance without administrator rights offers only the
# relaunch, which is declined once and accepted once.
#
#   write_road_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER DOWNLOAD_HOST_FOLDER \
#                      FAULT_RELAY_EXE TUNDRA_RELEASE_TOOL
#
# Needs DISPLAY (scripts/test starts Xvfb), WINEPREFIX and the download host
# running (its CTest fixture); exits 77 (skipped) without a display.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=gui_test.sh
source "$here/gui_test.sh"
gui_test_begin 6 "write_road_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER DOWNLOAD_HOST_FOLDER FAULT_RELAY_EXE TUNDRA_RELEASE_TOOL" "$@"
ROAD_INSTALLER=$1
ROAD_INSPECTOR=$2
ROAD_OUT=$3
host=$4
relay_exe=$5
release_tool=$6
# shellcheck source=road.sh
source "$here/road.sh"
mkdir -p "$ROAD_OUT"
rm -f "$ROAD_OUT"/*.png "$ROAD_OUT"/*.ui.log "$ROAD_OUT"/stick-*.img "$ROAD_OUT"/connect-gate.*
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', saw '$1'"; }

road_require_download_host "$host" || exit 1
# The image that the published release manifest names, in the host's tree.
url=$(sed -n 6p "$host/site/install/releases/tundra.txt")
image="$host/site/${url#https://localhost/}"
[ -f "$image" ] || { echo "FAIL: the published image $image is missing"; exit 1; }
stick_file="$ROAD_OUT/stick-1.img"
# The write waits at its first connection until this file exists: the test
# clicks during the write and only then lets it go on. A name of this run's
# own, so that a gate left open by a killed run cannot let a write through.
gate=$(mktemp -u "$ROAD_OUT/connect-gate.XXXXXXXX")

road_prepare_prefix

# The relay in front of the host, and the release manifest naming the image
# through it (signed with the test key, as the host's own); the host's
# manifest is put back at the end.
manifest="$host/site/install/releases/tundra.txt"
saved_manifest=$(mktemp)
cp "$manifest" "$saved_manifest"
relay_out="$ROAD_OUT/relay.out"
relay_pid=""
end_relay() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
  cp "$saved_manifest" "$manifest" && rm -f "$saved_manifest"
}
trap end_relay EXIT
size=$(stat -c %s "$image")
wine "$relay_exe" 600 "reset:$((size / 3))" "stall:$((size * 2 / 3))" >"$relay_out" 2>&1 &
relay_pid=$!
road_wait_until 30 grep -q '^relay ' "$relay_out" || fail "the fault relay did not start"
relay=$(sed -n 's/^relay \([0-9.]*\).*/\1/p' "$relay_out" | tr -d '\r')
image_path=${url#https://localhost}
"$release_tool" sign-release "$host/input/test-signing.key" 9.8.7-test "$size" \
  "$(sha256sum "$image" | cut -d' ' -f1)" "https://$relay$image_path" "$ROAD_OUT/tundra.txt" \
  >/dev/null || fail "the manifest through the relay could not be signed"
cp "$ROAD_OUT/tundra.txt" "$manifest"
image_requests() { grep -c "^$image_path " "$host/logs/access.log"; }
requests_before=$(image_requests)

echo "== elevated: three sticks, the first one written"
machine="elevated yes
system-disk 0
stick 3 Kingston DataTraveler KS3 16000000000
stick 2 SanDisk Ultra SD2 32000000000
stick 1 Tundra Flash SN0001 8000000000 $(winepath -w "$stick_file" 2>/dev/null)"
window_up=0
if road_start road "$machine" TUNDRA_SIM_CONNECT_GATE="$(winepath -w "$gate" 2>/dev/null)"; then
  window_up=1
  road_wait_until 10 road_shows_line "control 201 1 Writing will erase the selected USB stick." ||
    fail "no sticks found at start-up"
  road_click refresh
  road_wait_until 10 road_shows_line "control 103 1 Select a USB stick  ⌄" || fail "refresh"

  road_open_stick_menu || fail "the stick menu did not open"
  expect_eq "$(road_last_menu)" "1 0 Tundra Flash  ·  Disk 1  ·  8.0 GB  ·  SN0001
2 0 SanDisk Ultra  ·  Disk 2  ·  32.0 GB  ·  SD2
3 0 Kingston DataTraveler  ·  Disk 3  ·  16.0 GB  ·  KS3" "the menu, in disk order"
  road_screenshot road-1-menu
  # Esc while no stick is chosen: had it picked the first item, as Return
  # would, the label and the action button would change.
  road_menu_pick 0 || fail "Esc did not close the stick menu"
  expect_eq "$(road_inspect | grep -E '^control 10[34] ')" "control 103 1 Select a USB stick  ⌄
control 104 0 Download and write USB" "the window after Esc"

  road_open_stick_menu || fail "the stick menu did not open again"
  road_menu_pick 1 || fail "picking the first stick did not close the menu"
  road_wait_until 5 road_shows_line "control 103 1 Tundra Flash  ·  Disk 1  ·  8.0 GB" ||
    fail "the chosen stick's label"
  road_wait_until 5 road_shows_line "control 104 1 Download and write USB" ||
    fail "the action button is not enabled after the choice"

  road_open_stick_menu || fail "the stick menu did not open a third time"
  expect_eq "$(road_last_menu | cut -d' ' -f1-2 | tr '\n' ' ')" "1 1 2 0 3 0 " \
    "the check mark on the chosen stick"
  road_menu_pick 0 || fail "Esc did not close the stick menu"
  road_shows_line "control 103 1 Tundra Flash  ·  Disk 1  ·  8.0 GB" ||
    fail "Esc changed the choice"

  boxes=$(road_logged_count message-box)
  road_mark_statuses
  before=$(road_inspect | grep -E '^control (10[1-4]|201) ')
  road_click action
  box=$(road_answer_box "$boxes" no) || fail "the confirmation was not shown and answered No"
  expect_eq "$box" "134 Confirm USB erase|Download Tundra and erase this USB stick?\n\nTundra Flash  ·  Disk 1  ·  8.0 GB  ·  SN0001\n\nBack up anything you need before continuing." \
    "the confirmation (MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2)"
  # The program has acted on the No by now (road_answer_box).
  expect_eq "$(road_inspect | grep -E '^control (10[1-4]|201) ')" "$before" "No changed the window"
  expect_eq "$(road_logged status | tail -n +"$((road_statuses_seen + 1))")" "" "status texts after No"

  road_mark_statuses
  road_click action
  road_answer_box "$((boxes + 1))" yes >/dev/null || fail "no second confirmation appeared"
  road_wait_until 5 road_shows_line "control 104 0 Preparing USB…" || fail "not busy after Yes"
  busy=$(road_inspect | grep -E '^control 10[1-3] ')
  expect_eq "$busy" "control 101 0 Tundra
control 103 0 Tundra Flash  ·  Disk 1  ·  8.0 GB
control 102 0 Refresh" "while busy"
  road_screenshot road-2-busy
  # The write is held at its first connection: the close click lands during it.
  road_click close
  road_wait_for 10 "the refused close's status text" road_status_logged \
    "Keep the stick connected until verification completes." || fail "the refused close did not say why"
  touch "$gate"
  road_follow_statuses "Verified. Eject the stick and boot Tundra." road-3 180 ||
    fail "the write did not end"
  road_ended && fail "the close button ended the process during the write"
  if road_status_logged "Flash failed. Review the error and try again."; then
    fail "the write failed: $(road_answer_box "$((boxes + 2))" ok)"
  fi

  # The reset and the stall each cost one connection: three requests for
  # the image, the second and third for the rest.
  expect_eq "$(($(image_requests) - requests_before))" 3 "the image's requests"
  expect_eq "$(grep "^$image_path " "$host/logs/access.log" | tail -n 3 |
    sed -E 's/^[^ ]+ "[^"]*" "[^"]*" ([0-9]+) .*/\1/' | tr '\n' ' ')" \
    "200 206 206 " "the statuses of the image's answers"
  road_status_logged_like '^Connection lost\. Trying again in [0-9]+ s… \([0-9]+% downloaded\)$' ||
    fail "the wait before trying again was not shown"
  sequence=$(road_logged status | awk '/^Finding the latest Tundra release…$/{on=1} on' |
    sed -E -e 's/^Downloading Tundra… [0-9]+%( · .*)?$/Downloading/' \
      -e 's/^Writing and verifying the USB stick…( [0-9]+%)?$/Writing and verifying the USB stick…/' \
      -e 's/^Connection lost\. Trying again in .*/Downloading/' |
    uniq)
  expect_eq "$sequence" "Finding the latest Tundra release…
Keep the stick connected until verification completes.
Downloading
Writing and verifying the USB stick…
Verified. Eject the stick and boot Tundra." "the status texts of the road"
  percents=$(road_logged status | sed -nE 's/^Downloading Tundra… ([0-9]+)%.*$/\1/p' | uniq | tr '\n' ' ')
  echo "  progress: $percents"
  # grep without -q reads to the end: one that stopped early would cut the
  # log's writer off, and pipefail would count that as no match.
  road_logged status | grep '^Downloading Tundra… 100%' >/dev/null || fail "100% not shown"
  road_logged status | grep -E '^Downloading Tundra… [0-9]+% · [0-9.]+ of [0-9.]+ GB' >/dev/null ||
    fail "the amount was not shown"
  road_logged status | grep -E '^Writing and verifying the USB stick… [0-9]+%$' >/dev/null ||
    fail "the write's percent was not shown"

  size=$(stat -c %s "$image")
  if cmp -n "$size" "$image" "$stick_file"; then
    echo "  the stick holds the image byte for byte ($size bytes)"
  else
    fail "the stick file differs from the image"
  fi
  road_wait_until 5 road_shows_line "control 104 1 Download and write USB" ||
    fail "the action button is not usable after the write"

else
  fail "no window appeared"
fi
if [ "$window_up" -eq 1 ] && road_ended; then
  fail "the window is gone after the first write: the failing write cannot be tried"
elif [ "$window_up" -eq 1 ]; then
  echo "== the same window: a stick that cannot be written"
  road_click refresh
  road_open_stick_menu || fail "the stick menu did not open"
  road_menu_pick 2 || fail "picking the second stick did not close the menu"
  boxes=$(road_logged_count message-box)
  road_mark_statuses
  road_click action
  road_answer_box "$boxes" yes >/dev/null || fail "no confirmation appeared"
  road_follow_statuses "Verified. Eject the stick and boot Tundra." road-4 180 ||
    fail "the failing write did not end"
  road_status_logged "Flash failed. Review the error and try again." || fail "no failure status"
  road_status_logged "Using the Tundra image downloaded earlier…" ||
    fail "the second write did not say it uses the image downloaded earlier"
  expect_eq "$(($(image_requests) - requests_before))" 3 "the image's requests after the second write"
  failure=$(road_answer_box "$((boxes + 1))" ok) || fail "the failure dialog was not shown and answered OK"
  # An error box titled as the window, with the engine's own reason: a
  # simulated stick without a file takes no writes, so the first one fails.
  expect_eq "$failure" "10 Tundra USB Installer|the stick's write of 65536 bytes at 1048576 failed (Windows error 31)" \
    "the failure dialog"
  road_screenshot road-5-failed
  road_close || fail "the window did not close with code 0 after the writes"
fi

echo "== not elevated: the relaunch, declined and then accepted"
if road_start declined $'elevated no\nsystem-disk 0\nstick 1 Tundra Flash SN0001 16000000000' \
  TUNDRA_SIM_RUNAS=declined; then
  road_wait_until 10 road_shows_line "control 104 1 Enable USB access" || fail "no relaunch button"
  road_click action
  road_wait_until 10 road_shows_line "control 201 1 USB access was declined. You can try again." ||
    fail "no declined text"
  road_click action
  road_wait_until 10 road_logged_exactly runas 2 || fail "a second try did not prompt"
  road_screenshot not-elevated-declined
  road_close || fail "the declined instance did not close with code 0"
fi
if road_start accepted $'elevated no\nsystem-disk 0' TUNDRA_SIM_RUNAS=accepted; then
  road_click action
  road_wait_until 20 road_ended || fail "an accepted relaunch left this instance running"
  [ "$(road_logged_count runas)" -eq 1 ] || fail "the accepted relaunch was not asked once"
fi

echo "screenshots: $ROAD_OUT"
gui_test_end "all road checks passed"
