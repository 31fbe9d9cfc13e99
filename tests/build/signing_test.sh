#!/usr/bin/env bash
# Code signing of the shipped executables: with a throwaway certificate made
# here, sign-executables writes a signed copy that osslsigncode verifies
# against that certificate with a SHA-256 digest; the same copy with one byte
# of its code changed fails verification, as does the unsigned original.
# Without a certificate nothing is signed and the output says so; a
# certificate without its key is refused.
#   signing_test.sh EXE WORK_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1
work=$2
sign="$here/scripts/sign-executables"
name=$(basename "$exe")
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$work" && mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tundra test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
  >/dev/null 2>&1 || { echo "FAIL: could not make the test certificate"; exit 1; }
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1; }

echo "== signed with the test certificate"
TUNDRA_SIGN_CERT="$work/cert.pem" TUNDRA_SIGN_KEY="$work/key.pem" \
  bash "$sign" "$work/signed" "$exe" || fail "signing failed"
signed="$work/signed/$name"
if report=$(verify "$signed"); then
  grep -q "Signature verification: ok" <<<"$report" || fail "no 'Signature verification: ok'"
  grep -qi "digest algorithm *: *SHA256" <<<"$report" || fail "the digest is not SHA-256"
  grep -q "CN=Tundra test signer" <<<"$report" || fail "the signer is not the test certificate"
else
  echo "$report"
  fail "the signed copy does not verify"
fi

echo "== one byte of code changed after signing"
tampered="$work/tampered.exe"
cp "$signed" "$tampered"
# A byte in the code section, which the signature's digest covers.
text_start=$(x86_64-w64-mingw32-objdump -h "$exe" | awk '$2 == ".text" { print $6 }')
[ -n "$text_start" ] || { echo "FAIL: no .text section found"; exit 1; }
offset=$((16#$text_start + 64))
byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
  dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
cmp -s "$signed" "$tampered" && fail "the byte was not changed"
verify "$tampered" >/dev/null && fail "a changed copy still verifies"
verify "$exe" >/dev/null && fail "the unsigned original verifies"

echo "== no certificate"
output=$(env -u TUNDRA_SIGN_CERT -u TUNDRA_SIGN_KEY bash "$sign" "$work/none" "$exe") ||
  fail "signing without a certificate failed instead of saying so"
echo "$output"
grep -q "^UNSIGNED: $name is not signed" <<<"$output" || fail "no plain UNSIGNED line"
[ ! -e "$work/none/$name" ] || fail "a copy was made without a certificate"

echo "== certificate without its key"
TUNDRA_SIGN_CERT="$work/cert.pem" bash "$sign" "$work/half" "$exe" 2>/dev/null &&
  fail "a certificate without its key was accepted"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "signing checks passed"
