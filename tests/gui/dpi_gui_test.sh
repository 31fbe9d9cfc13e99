#!/usr/bin/env bash
# The installer's window at 96, 120, 144 and 192 DPI under Xvfb and Wine, on
# the simulated machine: at each DPI it opens at its size for that DPI, its
# screenshot shows the background picture as the window stretches it, pixel
# for pixel outside the controls (and at the outer corners of three
# buttons), and its controls sit where a window made at that DPI has them.
# A WM_DPICHANGED sent to the running window (as Windows sends it when the
# window moves to a monitor of another scale) moves it to the suggested
# rectangle and lays it out, fonts, controls and picture, as a window made
# at the new DPI. Screenshots stay in the output folder.
#
#   dpi_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER
#
# The DPI is Wine's LogPixels setting, read when the prefix's wineserver
# starts: the test keeps a prefix of its own in the output folder, so that
# no other test sees the setting. At 192 DPI the window is 1528 × 936: on a
# smaller screen the test starts an Xvfb of its own, and is skipped (77)
# when it cannot. Needs DISPLAY; exits 77 (skipped) without one.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=gui_test.sh
source "$here/gui_test.sh"
gui_test_begin 3 "dpi_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER" "$@"
ROAD_INSTALLER=$1
ROAD_INSPECTOR=$2
ROAD_OUT=$3
# shellcheck source=road.sh
source "$here/road.sh"
mkdir -p "$ROAD_OUT"
rm -f "$ROAD_OUT"/*.png "$ROAD_OUT"/*.places
export WINEPREFIX="$ROAD_OUT/prefix"

MACHINE=$'elevated yes\nsystem-disk 0\nstick 1 Tundra Flash SN0001 16000000000'
FIRST_STATUS="Writing will erase the selected USB stick."
own_xvfb_pid=""

finish() {
  [ -n "$road_pid" ] && kill "$road_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "$own_xvfb_pid" ] && kill "$own_xvfb_pid" 2>/dev/null
}
trap finish EXIT

# A screen of at least 2000 × 1200: the window at 192 DPI with room around it.
ensure_large_screen() {
  local size width height
  size=$(xdotool getdisplaygeometry 2>/dev/null)
  read -r width height <<<"${size:-0 0}"
  [ "${width:-0}" -ge 2000 ] && [ "${height:-0}" -ge 1200 ] && return 0
  local display_file="$ROAD_OUT/xvfb.display"
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 2000x1200x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  own_xvfb_pid=$!
  if ! road_wait_until 10 test -s "$display_file"; then
    echo "skipped: the screen is ${width}x${height}, smaller than 2000x1200, and no Xvfb of" \
      "that size could be started"
    exit 77
  fi
  DISPLAY=":$(cat "$display_file")"
  export DISPLAY
  echo "screen ${width}x${height} too small: own Xvfb on $DISPLAY"
}

# v × dpi / 96, as the window scales.
scaled() { echo $(($1 * $2 / 96)); }

# Restarts the prefix's wineserver with LogPixels = $1, and waits until the
# prefix is up (wineboot) before a program starts in it.
use_dpi() {
  wineserver -k 2>/dev/null
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null
  wineserver -p
  wineboot >/dev/null 2>&1
}

# Points of the picture (96-DPI pixels) that no control covers: header, logo
# mark, the two separator lines, the card with its border and star, the open
# background. At another DPI each is looked at in the middle of the block of
# window pixels that shows it.
PICTURE_POINTS=(0 0 5 30 24 21 100 43 300 365 17 200 126 189 60 120 150 250 250 140 600 450
  750 300 10 460)
# The action, stick and close buttons (x y width height at 96 DPI): their
# outermost corner pixels lie outside the rounded shape, where the picture
# must show and not the system's light button face.
BUTTONS=(260 385 220 43 260 259 338 43 719 8 31 27)

# The window's place and size: sets $geometry ("LEFT TOP WIDTH HEIGHT").
read_geometry() { geometry=$(road_inspect | sed -n 's/^window //p'); }

screenshot() {
  local left top width height
  read -r left top width height <<<"$geometry"
  import -window root -crop "${width}x${height}+${left}+${top}" "$ROAD_OUT/$1.png"
}

# Compares screenshot $1 with the picture as the window shows it at DPI $2:
# every point with the stretched picture (the window's own StretchDIBits,
# done by the inspector into a bitmap), and the picture points also with the
# picture's own pixel, which the middle of its block must show whatever way
# GDI rounds. Prints the differences; false when there are any.
pixels_match() {
  local shot="$ROAD_OUT/$1.png" dpi=$2 i x y
  local window_points=() own_points=()
  for ((i = 0; i < ${#PICTURE_POINTS[@]}; i += 2)); do
    x=${PICTURE_POINTS[i]} y=${PICTURE_POINTS[i + 1]}
    window_points+=($(((2 * x + 1) * dpi / 192)) $(((2 * y + 1) * dpi / 192)))
    own_points+=("$x" "$y")
  done
  local picture_count=${#window_points[@]}
  for ((i = 0; i < ${#BUTTONS[@]}; i += 4)); do
    local left top right bottom
    left=$(scaled "${BUTTONS[i]}" "$dpi")
    top=$(scaled "${BUTTONS[i + 1]}" "$dpi")
    right=$((left + $(scaled "${BUTTONS[i + 2]}" "$dpi") - 1))
    bottom=$((top + $(scaled "${BUTTONS[i + 3]}" "$dpi") - 1))
    window_points+=("$left" "$top" "$right" "$bottom")
  done
  local format=""
  for ((i = 0; i < ${#window_points[@]}; i += 2)); do
    format+="%[hex:p{${window_points[i]},${window_points[i + 1]}}]\n"
  done
  local seen stretched own
  seen=$(convert "$shot" -format "$format" info: | cut -c1-6)
  stretched=$(wine "$ROAD_INSPECTOR" expected-pixels-at "$dpi" "${window_points[@]}" | tr -d '\r')
  own=$(wine "$ROAD_INSPECTOR" expected-pixels "${own_points[@]}" | tr -d '\r')
  if [ "$seen" = "$stretched" ] && [ "$(head -n $((picture_count / 2)) <<<"$seen")" = "$own" ]; then
    return 0
  fi
  echo "point, seen, stretched picture, picture's own pixel:"
  paste <(printf '%s %s\n' "${window_points[@]}") <(echo "$seen") <(echo "$stretched") <(echo "$own")
  return 1
}

# Waits until the screenshot $1 shows the picture at DPI $2 (a repaint after
# a change comes when the window gets to it), then reports any difference.
expect_picture() {
  road_wait_until 10 pixels_match_quietly "$1" "$2" && return 0
  fail "$1: screenshot pixels differ from the picture at $2 DPI"
  pixels_match "$1" "$2"
}
pixels_match_quietly() {
  read_geometry
  screenshot "$1"
  pixels_match "$1" "$2" >/dev/null
}

expect_geometry() {
  read_geometry
  [ "$geometry" = "$2" ] || fail "$1: the window is at '$geometry', not '$2'"
}

# The controls' places (the inspector's "place" lines) into $1.places.
save_places() { wine "$ROAD_INSPECTOR" places | tr -d '\r' >"$ROAD_OUT/$1.places"; }
expect_same_places() {
  if ! diff "$ROAD_OUT/$1.places" "$ROAD_OUT/$2.places" >/dev/null; then
    fail "$1: the controls are not where a window made at that DPI has them ($2)"
    diff "$ROAD_OUT/$1.places" "$ROAD_OUT/$2.places" | head -n 20
  fi
}

start_installer() {
  if ! road_start "$1" "$MACHINE"; then
    fail "$1: no window appeared"
    return 1
  fi
  road_wait_until 10 road_shows_line "control 201 1 $FIRST_STATUS" ||
    fail "$1: status never read '$FIRST_STATUS'"
}

# Clicks the close button where it is at DPI $2 and expects the process to
# end with exit code 0.
close_installer_at() {
  xdotool mousemove --window "$road_wid" "$(scaled 734 "$2")" "$(scaled 21 "$2")" click 1
  if ! road_wait_until 20 road_ended; then
    fail "$1: still running after the close button"
    kill "$road_pid" 2>/dev/null
  fi
  wait "$road_pid"
  local code=$?
  [ "$code" -eq 0 ] || fail "$1: exit code $code after the close button"
  road_pid=""
}

# Sends WM_DPICHANGED for DPI $2 with the window's top-left corner at $3 $4
# and expects the window there at that DPI's size.
change_dpi() {
  local name=$1 dpi=$2 left=$3 top=$4
  wine "$ROAD_INSPECTOR" dpi-changed "$dpi" "$left" "$top" >/dev/null ||
    fail "$name: WM_DPICHANGED could not be sent"
  expect_geometry "$name" "$left $top $(scaled 764 "$dpi") $(scaled 468 "$dpi")"
}

# The texts a write shows in the status line, posted as its worker posts
# them (the busy state aside), each with a screenshot: they must fit the
# status line at every DPI. $1 names the DPI the window shows.
show_write_texts() {
  local name="texts-$1-dpi" message text i=0
  while IFS='|' read -r message wparam text; do
    i=$((i + 1))
    wine "$ROAD_INSPECTOR" post "$message" "$wparam" 0 >/dev/null || fail "$name: no post"
    road_wait_until 10 road_shows_line "control 201 1 $text" || fail "$name: status never read '$text'"
    sleep 0.5
    read_geometry
    screenshot "$name-$i"
  done <<'TEXTS'
0x8003|42|Downloading Tundra… 42%
0x8006|8|Connection lost. Trying again in 8 s… (42% downloaded)
0x8003|102|Using the Tundra image downloaded earlier…
0x8004|42|Writing and verifying the USB stick… 42%
TEXTS
}

ensure_large_screen
use_dpi 96
road_prepare_prefix

for dpi in 96 120 144 192; do
  echo "== $dpi DPI"
  use_dpi "$dpi"
  start_installer "dpi-$dpi" || continue
  read_geometry
  read -r left top _ <<<"$geometry"
  expect_geometry "dpi-$dpi" "$left $top $(scaled 764 "$dpi") $(scaled 468 "$dpi")"
  echo "dpi-$dpi: window at $geometry"
  expect_picture "dpi-$dpi" "$dpi"
  save_places "dpi-$dpi"
  # The road's clicks are 96-DPI places: a click at the Tundra button's
  # scaled centre must reach it.
  xdotool mousemove --window "$road_wid" "$(scaled 358 "$dpi")" "$(scaled 188 "$dpi")" click 1
  road_wait_until 10 road_shows_line \
    "control 201 1 Tundra selected. The latest public release downloads automatically." ||
    fail "dpi-$dpi: a click at the Tundra button's place did not reach it"
  if [ "$dpi" = 96 ] || [ "$dpi" = 192 ]; then
    show_write_texts "$dpi"
    # Back to the status the rest of the test expects.
    xdotool mousemove --window "$road_wid" "$(scaled 358 "$dpi")" "$(scaled 188 "$dpi")" click 1
    road_wait_until 10 road_shows_line \
      "control 201 1 Tundra selected. The latest public release downloads automatically." ||
      fail "dpi-$dpi: the status did not come back"
  fi
  shown_dpi=$dpi
  case $dpi in
    96) shown_dpi=144 ;;
    192) shown_dpi=96 ;;
  esac
  if [ "$shown_dpi" != "$dpi" ]; then
    name="dpi-changed-$dpi-to-$shown_dpi"
    echo "-- WM_DPICHANGED to $shown_dpi DPI"
    change_dpi "$name" "$shown_dpi" $((left + 40)) $((top + 30))
    expect_picture "$name" "$shown_dpi"
    save_places "$name"
  fi
  close_installer_at "dpi-$dpi" "$shown_dpi"
done

expect_same_places "dpi-changed-96-to-144" "dpi-144"
expect_same_places "dpi-changed-192-to-96" "dpi-96"

echo "screenshots: $ROAD_OUT"
ls "$ROAD_OUT"/*.png 2>/dev/null
gui_test_end "all DPI checks passed"
