#!/usr/bin/env bash
# Reads each executable's resources back through Windows' own resource
# functions (resource_reader under Wine) and checks them: the manifest is
# well-formed XML with the entries the program relies on, the version
# information names the product and release 5, and the icon group holds
# every size from 16 to 256 pixels, each of which becomes an icon.
#   resource_check.sh READER EXE...
set -uo pipefail
reader=$1
shift
export WINEDEBUG=-all
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# XPath (namespaces ignored) and the value it must yield.
MANIFEST_ENTRIES=(
  "string(//*[local-name()='requestedExecutionLevel']/@level)|asInvoker"
  "string(//*[local-name()='requestedExecutionLevel']/@uiAccess)|false"
  "string(//*[local-name()='supportedOS']/@Id)|{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
  "string(//*[local-name()='dpiAwareness'])|PerMonitorV2, PerMonitor"
  "string(//*[local-name()='dpiAware'])|true/pm"
  "string(//*[local-name()='longPathAware'])|true"
  "string(//*[local-name()='dependentAssembly']/*[@name='Microsoft.Windows.Common-Controls']/@version)|6.0.0.0"
  "string(//*[local-name()='dependentAssembly']/*[@name='Microsoft.Windows.Common-Controls']/@publicKeyToken)|6595b64144ccf1df"
)
ICON_SIZES="16 20 24 32 40 48 64 128 256"

check_manifest() {
  local exe=$1 xml entry value
  xml=$(wine "$reader" manifest "$exe" | tr -d '\r') || { fail "$exe: no manifest"; return; }
  echo "$xml"
  xmllint --noout - <<<"$xml" || { fail "$exe: the manifest is not well-formed XML"; return; }
  for entry in "${MANIFEST_ENTRIES[@]}"; do
    value=$(xmllint --xpath "${entry%|*}" - <<<"$xml")
    [ "$value" = "${entry#*|}" ] || fail "$exe: ${entry%|*} is '$value', not '${entry#*|}'"
  done
}

check_version() {
  local exe=$1 name info line
  name=$(basename "$exe")
  info=$(wine "$reader" version "$exe" | tr -d '\r') || { fail "$name: no version information"; return; }
  echo "$info"
  for line in "fixed 5.0.0.0" "FileVersion=5.0.0.0" "ProductVersion=5.0.0.0" \
    "ProductName=Tundra USB Installer" "OriginalFilename=$name" "InternalName=${name%.exe}"; do
    grep -qxF "$line" <<<"$info" || fail "$name: no version line '$line'"
  done
  for line in CompanyName FileDescription LegalCopyright; do
    grep -q "^$line=." <<<"$info" || fail "$name: empty $line"
  done
}

check_icons() {
  local exe=$1 sizes
  sizes=$(wine "$reader" icons "$exe" | tr -d '\r' | awk '$2 == $3 { print $2 }' | tr '\n' ' ')
  echo "icons: $sizes"
  [ "$sizes" = "$ICON_SIZES " ] || fail "$(basename "$exe"): icon sizes '$sizes', not '$ICON_SIZES'"
}

for exe in "$@"; do
  echo "== $(basename "$exe")"
  check_manifest "$exe"
  check_version "$exe"
  check_icons "$exe"
done
[ "$failures" -eq 0 ] || { echo "$failures problem(s)"; exit 1; }
echo "every executable carries its manifest, version information and icon"
