#!/usr/bin/env bash
# The installer's window under Xvfb and Wine, on the simulated machine:
# it opens at 764 × 468 (wherever Windows puts it), its screenshot matches the
# background picture outside the controls, its controls carry their texts
# and states, the Tundra button sets the status line, and the close button
# ends the process with exit code 0; without administrator rights it offers
# only "Enable USB access". Screenshots stay in the output folder.
#
#   window_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER
#
# Needs DISPLAY (scripts/test starts Xvfb) and WINEPREFIX; exits 77 (skipped)
# without a display.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=gui_test.sh
source "$here/gui_test.sh"
gui_test_begin 3 "window_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER" "$@"
ROAD_INSTALLER=$1
ROAD_INSPECTOR=$2
ROAD_OUT=$3
# shellcheck source=road.sh
source "$here/road.sh"
mkdir -p "$ROAD_OUT"
rm -f "$ROAD_OUT"/*.png

expect_lines() {
  local seen
  seen=$(road_inspect)
  for line in "$@"; do
    grep -Fxq -- "$line" <<<"$seen" || fail "missing '$line'"
  done
}

# Starts the installer on the machine described by $1, under the name $2,
# and expects the status line to read $3.
start_installer() {
  if ! road_start "$2" "$1"; then
    fail "$2: no window appeared"
    return 1
  fi
  road_wait_until 10 road_shows_line "control 201 1 $3" || fail "$2: status never read '$3'"
}

# Clicks the close button and expects the process to end with exit code 0.
close_installer() {
  road_click close
  if ! road_wait_until 20 road_ended; then
    fail "$1: still running after the close button"
    kill "$road_pid" 2>/dev/null
  fi
  wait "$road_pid"
  local code=$?
  [ "$code" -eq 0 ] || fail "$1: exit code $code after the close button"
}

# The window's place is Windows' (here Wine's) choice: it is read, not
# assumed, and the screenshot is the window's own area of the screen, so
# that its pixels are the picture's. Sets $geometry ("LEFT TOP WIDTH HEIGHT").
read_geometry() { geometry=$(road_inspect | sed -n 's/^window //p'); }
expect_size() {
  read_geometry
  local width height
  read -r _ _ width height <<<"$geometry"
  [ "$width $height" = "764 468" ] || fail "$1: the window is ${width}x${height}, not 764x468"
  echo "$1: window at ${geometry% * *}"
}
screenshot() {
  local left top width height
  read -r left top width height <<<"$geometry"
  import -window root -crop "${width}x${height}+${left}+${top}" "$ROAD_OUT/$1.png"
}

# Points of the picture that no control covers: header, logo mark, the two
# separator lines, the card with its border and star, the open background;
# then the outermost corner pixels of the action button (104), the stick
# button (103) and the close button (106), outside their rounded shapes,
# where the picture must show and not the system's light button face.
PIXEL_POINTS=(0 0 5 30 24 21 100 43 300 365 17 200 126 189 60 120 150 250 250 140 600 450
  750 300 10 460
  260 385 479 427 260 259 597 301 719 8 749 34)

compare_pixels() {
  local shot="$ROAD_OUT/$1.png" format="" i
  for ((i = 0; i < ${#PIXEL_POINTS[@]}; i += 2)); do
    format+="%[hex:p{${PIXEL_POINTS[i]},${PIXEL_POINTS[i + 1]}}]\n"
  done
  local seen expected
  seen=$(convert "$shot" -format "$format" info: | cut -c1-6)
  expected=$(wine "$ROAD_INSPECTOR" expected-pixels "${PIXEL_POINTS[@]}" | tr -d '\r')
  if [ "$seen" != "$expected" ]; then
    fail "$1: screenshot pixels differ from the picture"
    paste <(printf '%s %s\n' "${PIXEL_POINTS[@]}") <(echo "$seen") <(echo "$expected")
  fi
}

road_prepare_prefix

echo "== elevated, one stick"
if start_installer $'elevated yes\nsystem-disk 0\nstick 1 Tundra Flash SN0001 16000000000' \
  elevated "Writing will erase the selected USB stick."; then
  expect_size elevated
  expect_lines "control 0 1 rx4s" \
    "control 202 1 Tundra USB Installer  ·  v5" \
    "control 105 1 −" \
    "control 106 1 ×" \
    "control 0 1 Tundra" \
    "control 203 1 Boot from USB" \
    "control 202 1 Start Tundra from a USB stick." \
    "control 0 1 Create a bootable USB" \
    "control 202 1 Choose a version and the USB stick to write it to." \
    "control 0 1 Version" \
    "control 101 1 Tundra" \
    "control 107 0 Meridian  ·  Coming soon" \
    "control 0 1 USB stick" \
    "control 103 1 Select a USB stick  ⌄" \
    "control 102 1 Refresh" \
    "control 202 1 Writing erases the selected USB stick. Back it up first." \
    "control 104 0 Download and write USB"
  [ "$(road_inspect | grep -c '^control ')" -eq 18 ] || fail "elevated: not 18 controls"
  screenshot elevated-start
  compare_pixels elevated-start
  road_click version
  road_wait_until 10 road_shows_line \
    "control 201 1 Tundra selected. The latest public release downloads automatically." ||
    fail "elevated: the Tundra button did not set the status line"
  screenshot elevated-tundra-selected
  close_installer elevated
fi

echo "== not elevated"
if start_installer $'elevated no\nsystem-disk 0\nstick 1 Tundra Flash SN0001 16000000000' \
  not-elevated "Windows administrator access is required to write a USB stick."; then
  expect_size not-elevated
  expect_lines "control 104 1 Enable USB access" \
    "control 103 0 No USB stick selected" \
    "control 102 0 Refresh" \
    "control 101 1 Tundra"
  screenshot not-elevated-start
  compare_pixels not-elevated-start
  close_installer not-elevated
fi

echo "screenshots: $ROAD_OUT"
ls "$ROAD_OUT"/*.png 2>/dev/null
gui_test_end "all window checks passed"
