# shellcheck shell=bash
# What every GUI test script shares: its arguments, the skip without an X
# display, and the count of failures. Sourced first; then
#
#   gui_test_begin COUNT USAGE "$@"   refuses any other number of arguments
#                                     (exit 2), skips without a display
#                                     (exit 77, which CTest reports as skipped)
#                                     and quiets Wine
#   fail TEXT...                      reports one failure and counts it
#   gui_test_end TEXT                 exits 1 after any failure, else prints
#                                     TEXT and exits 0

failures=0

gui_test_begin() {
  local count=$1 usage=$2
  shift 2
  if [ "$#" -ne "$count" ]; then
    echo "usage: $usage" >&2
    exit 2
  fi
  if [ -z "${DISPLAY:-}" ]; then
    echo "skipped: no X display (scripts/test starts Xvfb)"
    exit 77
  fi
  export WINEDEBUG=-all
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

gui_test_end() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "$1"
  exit 0
}
