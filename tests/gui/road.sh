# Drives the installer's test build through its window as a user would:
# clicks with xdotool, keys for the stick menu and the message boxes, and
# reads what happened from the window (the inspector) and from the build's
# UI log (stick menu items, message boxes, every status text). Sourced by
# the GUI tests and by scripts/demo.
#
# The sourcing script sets, before calling anything here:
#   ROAD_INSTALLER  the test build, tundra-usb-installer-sim.exe
#   ROAD_INSPECTOR  window_inspector.exe
#   ROAD_OUT        a folder for machine descriptions, logs and screenshots
# and has WINEPREFIX and DISPLAY in its environment.

# Where each button is, in the window's 96-DPI client coordinates (centres).
declare -A ROAD_BUTTON=(
  [version]="358 188" [refresh]="675 280" [stick]="429 280" [action]="370 406"
  [minimize]="694 21" [close]="734 21"
)

road_pid=""
road_wid=""
road_log=""
road_statuses_seen=0

# Polls `command` every 0.1 s for up to `seconds` until it succeeds.
road_wait_until() {
  local seconds=$1
  shift
  local tries=$((seconds * 10)) i
  for ((i = 0; i < tries; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# road_wait_until that says what it waited for when the time is up.
road_wait_for() {
  local seconds=$1 what=$2
  shift 2
  road_wait_until "$seconds" "$@" && return 0
  echo "  gave up after $seconds s waiting for $what" >&2
  return 1
}

# Unmanaged windows: no 2-second stall on hide or destroy, and keyboard focus
# that does not follow the pointer. The Windows fonts make the text readable.
road_prepare_prefix() {
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null || true
}

# Says plainly when the download host of the work folder $1 is not running
# (a write would otherwise fail later with no visible reason); silent and
# true when it runs and listens.
road_require_download_host() {
  local folder=$1 pid
  pid=$(cat "$folder/nginx.pid" 2>/dev/null)
  if [ -z "$pid" ] || ! grep -qs "$folder/nginx.conf" "/proc/$pid/cmdline"; then
    echo "FAIL: the local download host is not running (no nginx of $folder): run this test" \
      "through ctest in build/windows, whose fixture download_host starts it, or start it" \
      "with tests/release/download_host/start"
    return 1
  fi
  if ! (exec 3<>/dev/tcp/127.0.0.1/443) 2>/dev/null; then
    echo "FAIL: the local download host of $folder runs but nothing listens on 127.0.0.1:443"
    return 1
  fi
}

road_inspect() { wine "$ROAD_INSPECTOR" controls | tr -d '\r'; }
# Where the window's keys go now: "menu", "box CAPTION" or "window". A key
# sent before the menu or the box took the keys reaches the main window and
# is lost, however long a fixed pause was.
road_keys_go_to() { [ "$(wine "$ROAD_INSPECTOR" keys | tr -d '\r')" = "$1" ]; }
# The inspector's questions are answered by the window's thread only from
# its message loop: once an inspection returns, the program has finished
# acting on every input it took before it.
road_settled() { road_inspect >/dev/null; }
road_shows_line() { road_inspect | grep -Fxq -- "$1"; }
road_ended() { ! kill -0 "$road_pid" 2>/dev/null; }
road_visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
road_has_main_window() { [ -n "$(road_visible_window '^Tundra USB Installer$')" ]; }

# Log lines of one kind, without their keyword.
road_logged() { grep -a "^$1 " "$road_log" 2>/dev/null | cut -d' ' -f2-; }
road_logged_count() { road_logged "$1" | wc -l; }
road_status_logged() { road_logged status | grep -Fxq -- "$1"; }
# Counts rather than stops at the first match: grep -q would end the
# pipe early, and its writer's broken pipe fails it under pipefail.
road_status_logged_like() { [ "$(road_logged status | grep -Ec -- "$1")" -gt 0 ]; }
# Conditions for road_wait_until, which must read the log anew at each poll.
road_logged_more_than() { [ "$(road_logged_count "$1")" -gt "$2" ]; }
road_logged_exactly() { [ "$(road_logged_count "$1")" -eq "$2" ]; }

# Starts the installer on the machine described by $2 (text), under the name
# $1; further arguments are VAR=value settings for its environment. Sets
# road_pid, road_wid and road_log. Fails when no window appears.
road_start() {
  local name=$1 description=$2
  shift 2
  local machine="$ROAD_OUT/$name.machine"
  road_log="$ROAD_OUT/$name.ui.log"
  printf '%s\n' "$description" >"$machine"
  rm -f "$road_log"
  env "$@" TUNDRA_SIM_DESCRIPTION="$(winepath -w "$machine" 2>/dev/null)" \
    TUNDRA_SIM_LOG="$(winepath -w "$road_log" 2>/dev/null)" wine "$ROAD_INSTALLER" &
  road_pid=$!
  if ! road_wait_until 30 road_has_main_window; then
    kill "$road_pid" 2>/dev/null
    return 1
  fi
  road_wid=$(road_visible_window '^Tundra USB Installer$')
}

road_click() {
  local xy
  read -r -a xy <<<"${ROAD_BUTTON[$1]}"
  xdotool mousemove --window "$road_wid" "${xy[0]}" "${xy[1]}" click 1
}

# Opens the stick menu and waits until its loop takes the keys (it was
# filled and logged just before).
road_open_stick_menu() {
  road_click stick
  road_wait_for 10 "the stick menu to take the keys" road_keys_go_to menu
}

# The items of the last menu shown, as "ID CHECKED TEXT" lines.
road_last_menu() {
  local count
  count=$(grep -ac '^menu 1 ' "$road_log")
  awk -v n="$count" '/^menu 1 /{seen++} seen==n && /^menu /{sub(/^menu /,""); print}' "$road_log"
}

# Picks item N (1-based) of the open menu with the keyboard; N = 0 dismisses
# it with Esc. Returns once the menu closed and the program acted on it.
road_menu_pick() {
  local n=$1 keys=() i closed
  closed=$(road_logged_count menu-closed)
  if [ "$n" -eq 0 ]; then
    keys=(Escape)
  else
    for ((i = 0; i < n; i++)); do keys+=(Down); done
    keys+=(Return)
  fi
  xdotool key "${keys[@]}"
  road_wait_for 10 "the stick menu to close" road_logged_more_than menu-closed "$closed" &&
    road_settled
}

# Waits until message box number $1 + 1 of the run (after $1 boxes were
# logged) is shown and takes the keys.
road_wait_box() {
  local before=$1 caption
  road_wait_for 20 "message box $((before + 1))" road_logged_more_than message-box "$before" ||
    return 1
  caption=$(road_logged message-box | sed -n "$((before + 1))p" | cut -d' ' -f2- | cut -d'|' -f1)
  road_wait_for 10 "the box \"$caption\" to take the keys" road_keys_go_to "box $caption"
}

# Answers message box number $1 + 1 with yes, no or ok, and returns once it
# closed with that answer and the program acted on it. Prints the logged
# "TYPE CAPTION|TEXT".
road_answer_box() {
  local before=$1 answer=$2 key id
  case "$answer" in
    yes) key=y id=6 ;;
    no) key=n id=7 ;;
    ok) key=Return id=1 ;;
  esac
  road_wait_box "$before" || return 1
  xdotool key "$key"
  road_wait_for 10 "message box $((before + 1)) to close" \
    road_logged_more_than message-box-closed "$before" || return 1
  road_settled
  road_logged message-box | sed -n "$((before + 1))p"
  [ "$(road_logged message-box-closed | sed -n "$((before + 1))p")" = "$id" ] ||
    { echo "  message box $((before + 1)) was not answered $answer" >&2; return 1; }
}

# The screen around the main window, wherever it opened (with room below
# and right of it for the stick menu and the dialogs).
road_screenshot() {
  local place left top
  place=$(xdotool getwindowgeometry "$road_wid" 2>/dev/null |
    sed -n 's/^ *Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
  read -r left top <<<"${place:-0 0}"
  import -window root -crop "900x600+${left}+${top}" "$ROAD_OUT/$1.png"
}

# Marks every status text logged so far as seen.
road_mark_statuses() { road_statuses_seen=$(road_logged_count status); }

# Prints each status text logged after the mark as it comes, until one of
# them is $1 or "Flash failed…", and takes a screenshot at each new stage
# (the download is one stage, whatever its percentage), named $2-N. Gives up
# after $3 seconds, or at once when the process has ended.
road_follow_statuses() {
  local until=$1 prefix=$2 seconds=$3 shown=$road_statuses_seen stage=0 line kind last_kind="" i
  local ended
  for ((i = 0; i < seconds * 10; i++)); do
    ended=0
    road_ended && ended=1
    mapfile -t lines < <(road_logged status)
    while [ "$shown" -lt "${#lines[@]}" ]; do
      line=${lines[$shown]}
      shown=$((shown + 1))
      echo "  status: $line"
      # A stage's texts differ only from their first number on.
      kind=${line%%[0-9]*}
      if [ "$kind" != "$last_kind" ]; then
        stage=$((stage + 1))
        # A new text repaints the whole window: let the painting finish.
        sleep 0.5
        road_screenshot "$prefix-$stage" 2>/dev/null
        last_kind=$kind
      fi
      if [ "$line" = "$until" ] || [ "$line" = "Flash failed. Review the error and try again." ]; then
        road_statuses_seen=$shown
        return 0
      fi
    done
    if [ "$ended" -eq 1 ]; then
      echo "  the installer ended before the status \"$until\"" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "  gave up after $seconds s waiting for the status \"$until\"" >&2
  return 1
}

# Clicks the close button; true when the process then ends with code 0.
road_close() {
  road_click close
  if ! road_wait_until 20 road_ended; then
    kill "$road_pid" 2>/dev/null
    return 1
  fi
  wait "$road_pid"
}
