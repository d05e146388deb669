#!/usr/bin/env bash
# A setup.exe made by qzpack, signed as a maker signs it: the signature is
# valid, qzpack still finds the four entries in front of the certificate
# table (and the header checksum the signer made), the signature removed
# gives setup.exe back but for the checksum, and one flipped byte of the
# pack breaks the signature. Needs no
# Wine; installing the signed file is a scenario of installer_install_e2e.sh.
#
# Usage: installer_signed.sh QZPACK INSTALLER_EXE
# Exits 77 (skipped) when the stub has not been built.
set -uo pipefail

qzpack=$1
stub=$2
. "$(dirname "$0")/e2e_common.sh"

[ -f "$stub" ] || { echo "SKIP: no installer stub at $stub (build the windows preset)"; exit 77; }
for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool missing (scripts/setup installs it)"; exit 1; }
done

e2e_begin signed
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The payload: a readme, two PE files and a text, none of them the demo's
# and not in their places, which matters nothing to a signature.
make_readme "$work/readme.txt"
seq 1 20000 >"$work/numbers.txt"
setup=$work/setup.exe
signed=$work/setup-signed.exe
"$qzpack" build -o "$setup" --stub "$stub" --no-role-check "$work/readme.txt" "$stub" "$stub" "$work/numbers.txt" \
  >/dev/null ||
  { fail "qzpack build"; exit 1; }
size=$(stat -c %s "$setup")
[ $((size % 8)) -eq 0 ] || fail "setup.exe is $size bytes, not a multiple of 8"

sign_setup "$setup" "$signed" "$work" || { fail "osslsigncode sign"; exit 1; }
signature_valid "$signed" "$work" || fail "osslsigncode verify rejects the signed installer"
verify=$("$qzpack" verify --no-role-check "$signed" 2>&1) || fail "qzpack verify of the signed installer: $verify"
[[ $verify == *": 4 entries, all complete and intact" ]] || fail "qzpack verify says: $verify"
table=$(($(stat -c %s "$signed") - size))
list=$("$qzpack" list "$signed" 2>&1) || fail "qzpack list of the signed installer: $list"
[[ $list == *"certificate table of $table bytes"* ]] || fail "qzpack list does not report the $table-byte table: $list"
# Signing changes the checksum and the directory entry in the headers, and
# appends; everything after the headers (SizeOfHeaders, in the optional
# header) sits where it was, the pack right before the table.
after=$(($(u32 "$setup" $(($(u32 "$setup" 60) + 84))) + 1))
cmp -s <(tail -c +"$after" "$setup") <(head -c "$size" "$signed" | tail -c +"$after") ||
  fail "signing moved or changed the pack"

# The README's check of a signed installer against a rebuilt one: without
# its signature the signed file may differ from setup.exe in the header
# checksum alone, at the offsets the README names (as cmp -l counts them).
osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null || fail "osslsigncode remove-signature"
checksum_at=$(($(u32 "$setup" 60) + 24 + 64 + 1))
readme=$(dirname "$0")/../../README.md
[[ $(tr '\n' ' ' <"$readme") == *"offsets $checksum_at to $((checksum_at + 3)) as \`cmp -l\` counts them"* ]] ||
  fail "the README does not name the checksum's offsets, $checksum_at to $((checksum_at + 3))"
others=$(cmp -l "$work/unsigned.exe" "$setup" 2>&1 | awk -v c="$checksum_at" '!($1 >= c && $1 <= c + 3)')
[ -z "$others" ] || fail "the signed file without its signature differs beyond the checksum: $(head -n 3 <<<"$others")"

read -r data _ stored < <(pack_entry "$setup" 1)
cp "$signed" "$work/flipped.exe"
flip_byte "$work/flipped.exe" $((data + stored / 2))
signature_valid "$work/flipped.exe" "$work" && fail "a flipped pack byte leaves the signature valid"

passed "multiple of 8 ($size bytes), signature valid, four entries, $table-byte table listed, unsigned again but for the checksum, a flipped pack byte caught" || exit 1
