#!/usr/bin/env bash
# A DLL planted beside the installer is never loaded. Copies of the
# installer, of its test build and of the stick tool sit in a folder with a dwmapi.dll and a
# winhttp.dll that leave a mark when loaded, and Wine is told to prefer DLLs
# from the application's folder for those names (as Windows does for any DLL
# that is not a known system DLL). Both programs start and do their work
# (the installer's window opens and closes; the test build fetches the
# release from the local download host and writes a stick; the stick tool
# writes an image onto a target file), and no mark appears.
#
#   planted_dll_test.sh INSTALLER_EXE TEST_BUILD_EXE INSPECTOR_EXE PLANTED_DWMAPI PLANTED_WINHTTP OUTPUT_FOLDER STICK_TOOL_EXE IMAGE DOWNLOAD_HOST_FOLDER
#
# Needs DISPLAY, WINEPREFIX and the download host; exits 77 without a display.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../gui/gui_test.sh
source "$here/gui/gui_test.sh"
gui_test_begin 9 "planted_dll_test.sh INSTALLER_EXE TEST_BUILD_EXE INSPECTOR_EXE PLANTED_DWMAPI \
PLANTED_WINHTTP OUTPUT_FOLDER STICK_TOOL_EXE IMAGE DOWNLOAD_HOST_FOLDER" "$@"
installer=$1
test_build=$2
ROAD_INSPECTOR=$3
dwmapi=$4
winhttp=$5
out=$6
stick_tool=$7
image=$8
host=$9
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}dwmapi,winhttp=n,b"
folder="$out/downloads"
rm -rf "$out" && mkdir -p "$folder"
cp "$installer" "$test_build" "$stick_tool" "$folder"/
cp "$dwmapi" "$folder/dwmapi.dll"
cp "$winhttp" "$folder/winhttp.dll"

# shellcheck source=../gui/road.sh
source "$here/gui/road.sh"
road_require_download_host "$host" || exit 1
ROAD_OUT=$out
road_prepare_prefix

echo "== the installer opens its window"
wine "$folder/$(basename "$installer")" &
road_pid=$!
if road_wait_until 30 road_has_main_window; then
  road_wid=$(road_visible_window '^Tundra USB Installer$')
  road_close || fail "the installer did not close with code 0"
else
  fail "the installer's window did not open"
  kill "$road_pid" 2>/dev/null
fi

echo "== the test build fetches the release and writes a stick"
ROAD_INSTALLER="$folder/$(basename "$test_build")"
stick="$out/stick.img"
machine="elevated yes
system-disk 0
stick 1 Tundra Flash SN0001 1000000000 $(winepath -w "$stick" 2>/dev/null)"
if road_start planted "$machine"; then
  road_open_stick_menu && road_menu_pick 1
  road_mark_statuses
  road_click action
  road_answer_box 0 yes >/dev/null || fail "no confirmation"
  road_follow_statuses "Verified. Eject the stick and boot Tundra." planted 120 >/dev/null ||
    fail "the write did not end"
  road_status_logged "Verified. Eject the stick and boot Tundra." || fail "the stick was not verified"
  road_close || fail "the test build did not close with code 0"
else
  fail "the test build's window did not open"
fi

echo "== the stick tool writes an image onto a target file"
target="$out/target.img"
truncate -s 100M "$target"
if wine "$folder/$(basename "$stick_tool")" write --image "$(winepath -w "$image" 2>/dev/null)" \
  --target "$(winepath -w "$target" 2>/dev/null)" >"$out/stick-tool.out" 2>&1; then
  cmp -s -n "$(stat -c %s "$image")" "$image" "$target" || fail "the target does not hold the image"
else
  fail "the stick tool failed: $(tail -n 3 "$out/stick-tool.out")"
fi

marks=$(find "$folder" -name '*.planted-mark')
if [ -n "$marks" ]; then
  fail "a planted DLL was loaded: $marks"
else
  echo "no planted DLL was loaded"
fi
gui_test_end "the planted DLLs stayed unloaded"
