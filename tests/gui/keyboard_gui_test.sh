#!/usr/bin/env bash
# The installer's window from the keyboard alone, under Xvfb and Wine on the
# simulated machine: the first focus of each state, Tab and Shift+Tab
# through the usable buttons in the order they are seen (disabled ones
# skipped), the focused button's outline in the screenshot, Space opening
# the stick menu and Esc closing it without a choice, the keyboard choice of
# a stick, and Space and Enter on the action button opening the
# confirmation, after which the focus is back on that button. The focus is
# read from the window's thread by the inspector.
#
#   keyboard_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER
#
# Needs DISPLAY (scripts/test starts Xvfb) and WINEPREFIX; exits 77 (skipped)
# without a display.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=gui_test.sh
source "$here/gui_test.sh"
gui_test_begin 3 "keyboard_gui_test.sh INSTALLER_EXE INSPECTOR_EXE OUTPUT_FOLDER" "$@"
ROAD_INSTALLER=$1
ROAD_INSPECTOR=$2
ROAD_OUT=$3
# shellcheck source=road.sh
source "$here/road.sh"
mkdir -p "$ROAD_OUT"
rm -f "$ROAD_OUT"/*.png

ONE_STICK=$'elevated yes\nsystem-disk 0\nstick 1 Tundra Flash SN0001 16000000000'

focus_is() { road_shows_line "focus $1"; }
focused() { road_inspect | sed -n 's/^focus //p'; }

# Expects the focus on control $2 (0: the main window) within a few seconds.
expect_focus() {
  road_wait_until 5 focus_is "$2" || fail "$1: the focus is on $(focused), not on $2"
}

# Presses key $1 once for each further argument and expects the focus on
# that control after each press.
walk() {
  local key=$1 id
  shift
  for id in "$@"; do
    xdotool key "$key"
    expect_focus "$key to $id" "$id"
  done
}

# The stick menu opens below the stick button (260, 302 in the window) as a
# window of its own.
menu_window_shown() {
  local w
  for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    [ "$w" = "$road_wid" ] && continue
    xdotool getwindowgeometry "$w" 2>/dev/null |
      grep -q "Position: $((window_left + 260)),$((window_top + 302)) " && return 0
  done
  return 1
}
menu_window_gone() { ! menu_window_shown; }

read_window_place() {
  read -r window_left window_top < <(road_inspect | sed -n 's/^window \([0-9-]*\) \([0-9-]*\) .*/\1 \2/p')
}

# The one-pixel outline on the top edge of a button, in the window's
# screenshot $1, at the middle of the button (x $2, y $3 in the window).
outline_at() {
  convert "$ROAD_OUT/$1.png" -format "%[hex:p{$(($2 + window_left)),$(($3 + window_top))}]" info: |
    cut -c1-6
}

# COLOR_ACCENT (202, 171, 255) outlines the focused button, 53, 51, 78 the
# others: in screenshot $1, the button named $2 is focused and $3 is not.
# The middles of the buttons' top edges, in the window:
declare -A TOP_EDGE=([stick]="429 259" [refresh]="675 259")
top_edge_outline() {
  local xy
  read -r -a xy <<<"${TOP_EDGE[$2]}"
  outline_at "$1" "${xy[0]}" "${xy[1]}"
}
expect_outlines() {
  local shot=$1 focused=$2 other=$3 seen
  import -window root "$ROAD_OUT/$shot.png"
  seen=$(top_edge_outline "$shot" "$focused")
  [ "$seen" = CAABFF ] || fail "$shot: the focused $focused button's outline is $seen, not CAABFF"
  seen=$(top_edge_outline "$shot" "$other")
  [ "$seen" = 35334E ] || fail "$shot: the $other button's outline is $seen, not 35334E"
}

confirmation_gone() { ! road_box_shown "Confirm USB erase"; }

# Answers the confirmation that key $1 on the focused action button opens,
# with No, and expects the focus back on the action button.
expect_confirmation_from() {
  local key=$1 before box
  before=$(road_logged_count message-box)
  xdotool key "$key"
  if ! box=$(road_answer_box "$before" no); then
    fail "$key on the action button opened no confirmation"
    return
  fi
  [[ "$box" == *"Confirm USB erase|Download Tundra and erase this USB stick?"* ]] ||
    fail "$key: not the confirmation: $box"
  road_wait_until 10 confirmation_gone || fail "$key: the confirmation stayed open after No"
  expect_focus "after No" 104
}

road_prepare_prefix

echo "== elevated, one stick"
if road_start elevated "$ONE_STICK"; then
  read_window_place
  expect_focus "first focus, no stick chosen" 103
  # Before any key: Space and Enter would press this button already.
  expect_outlines first-focus stick refresh
  # 104 (no stick chosen) and 107 (never enabled) are skipped.
  walk Tab 102
  expect_outlines focus-on-refresh refresh stick
  walk Tab 105 106 101 103
  walk shift+Tab 101 106 105 102 103

  menus=$(road_logged_count menu)
  xdotool key space
  road_wait_until 10 road_logged_more_than menu "$menus" || fail "Space opened no stick menu"
  road_wait_until 5 menu_window_shown || fail "the stick menu's window never showed"
  road_screenshot menu-open
  xdotool key Escape
  road_wait_until 5 menu_window_gone || fail "Esc left the stick menu open"
  road_shows_line "control 103 1 Select a USB stick  ⌄" || fail "Esc changed the stick button"
  road_shows_line "control 104 0 Download and write USB" || fail "Esc chose a stick"
  expect_focus "after Esc" 103

  xdotool key space
  road_wait_until 5 menu_window_shown || fail "Space opened no stick menu the second time"
  xdotool key Down Return
  road_wait_until 5 road_shows_line "control 104 1 Download and write USB" ||
    fail "Down and Return in the menu chose no stick"
  expect_focus "after the choice" 103
  walk Tab 102 104
  expect_confirmation_from space
  expect_confirmation_from Return
  road_screenshot focus-back-on-action
  road_close || fail "elevated: the close button did not end the installer with code 0"
else
  fail "elevated: no window appeared"
fi

echo "== elevated, no stick"
if road_start no-stick $'elevated yes\nsystem-disk 0'; then
  expect_focus "first focus, empty list" 102
  walk Tab 105 106 101 102
  road_close || fail "no stick: the close button did not end the installer with code 0"
else
  fail "no stick: no window appeared"
fi

echo "== not elevated"
if road_start not-elevated $'elevated no\nsystem-disk 0'; then
  expect_focus "first focus, not elevated" 104
  walk Tab 105 106 101 104
  walk shift+Tab 101 106 105 104
  road_close || fail "not elevated: the close button did not end the installer with code 0"
else
  fail "not elevated: no window appeared"
fi

echo "screenshots: $ROAD_OUT"
gui_test_end "all keyboard checks passed"
