#!/usr/bin/env bash
# Lists the DLLs that each executable imports and fails on any DLL that
# Windows does not always take from its own system folder (a "known DLL"):
# any other one would be searched for beside the executable first, where a
# planted copy could wait. Also shows that each image points at its load
# configuration and is marked terminal-server aware.
#   import_check.sh EXE...
set -uo pipefail
allowed=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll shell32.dll user32.dll "
failures=0
for exe in "$@"; do
  echo "$(basename "$exe") imports:"
  while read -r dll; do
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
    if [[ "$allowed" == *" $lower "* ]]; then
      echo "  $dll"
    else
      echo "  $dll   <- not a DLL that Windows always takes from System32"
      failures=$((failures + 1))
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p')
  # Without the terminal-server-aware flag (0x8000), Windows gives the
  # program a per-user Windows folder on a Remote Desktop host.
  characteristics=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '$1 == "DllCharacteristics" { print $2 }')
  if [ -z "$characteristics" ] || (( (16#$characteristics & 0x8000) == 0 )); then
    echo "  not marked terminal-server aware (DllCharacteristics ${characteristics:-missing})"
    failures=$((failures + 1))
  fi
  config=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '$1 == "Entry" && $2 == "a" { print $3, $4 }')
  if [ "$config" = "0000000000000000 00000000" ] || [ -z "$config" ]; then
    echo "  no load configuration"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || { echo "$failures problem(s)"; exit 1; }
echo "every import is a DLL that Windows takes from System32"
