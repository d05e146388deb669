#!/usr/bin/env bash
# The installer stub and a setup.exe made of it, unsigned and signed, read
# as PE analysers read them (Debian's pefile and pev): the standard DOS
# header and program with the PE header at 0x80, the source's date as the
# time stamp, no pefile warning, a valid checksum, ASLR and NX on, and
# nothing pescan calls suspicious, zero or invalid. The one exception is
# pescan's ".bss: zero length": it says so of every MinGW program, whose
# .bss has no bytes in the file, as it should. setup.exe's file entropy
# may also read "probably packed": its pack is compressed data, as every
# self-extracting installer's is.
#
# Usage: pe_analysers_test.sh QZPACK INSTALLER_EXE SOURCE_DIR
# Exits 77 (skipped) when the stub has not been built.
set -uo pipefail

qzpack=$1
stub=$2
source_dir=$3
. "$(dirname "$0")/../app/e2e_common.sh"

[ -f "$stub" ] || { echo "SKIP: no installer stub at $stub (build the windows preset)"; exit 77; }
# Debian's pefile is a module of Debian's own Python, whatever python3 is first on the path.
python=/usr/bin/python3
"$python" -c 'import pefile' 2>/dev/null || { echo "FAIL: $python has no pefile (scripts/setup installs python3-pefile)"; exit 1; }
for tool in pescan pesec osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool missing (scripts/setup installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The date the build chose, found here by the same rule: SOURCE_DATE_EPOCH,
# else the last commit's time, else the version's date.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date=$SOURCE_DATE_EPOCH
elif [ -e "$source_dir/.git" ]; then
  date=$(git -C "$source_dir" log -1 --format=%ct) || { echo "FAIL: git gives no commit time for $source_dir"; exit 1; }
else
  date=$(date -u -d "$(sed -n 's/^set(QZ_VERSION_DATE \(.*\))$/\1/p' "$source_dir/CMakeLists.txt")" +%s) ||
    { echo "FAIL: no QZ_VERSION_DATE in $source_dir/CMakeLists.txt"; exit 1; }
fi

# The DOS header and program as the linkers write them: 128 bytes, the PE
# header's offset (0x80) in the header's last field.
standard_dos=$(printf '%s' \
  4d5a90000300000004000000ffff0000b800000000000000400000000000000000000000000000000000000000000000 \
  000000000000000000000000800000000e1fba0e00b409cd21b8014ccd21546869732070726f6772616d2063616e6e6f \
  742062652072756e20696e20444f53206d6f64652e0d0d0a2400000000000000)

make_readme "$work/readme.txt"
seq 1 20000 >"$work/numbers.txt"
"$qzpack" build -o "$work/setup.exe" --stub "$stub" "$work/readme.txt" "$stub" "$stub" "$work/numbers.txt" >/dev/null ||
  { echo "FAIL: qzpack build"; exit 1; }
sign_setup "$work/setup.exe" "$work/setup-signed.exe" "$work" || { echo "FAIL: osslsigncode sign"; exit 1; }

# pefile's view: warnings, checksum, time stamp, DLL characteristics and
# relocations (ASLR needs them), one "name: value" a line.
pefile_view() {
  "$python" - "$1" <<'EOF'
import sys, pefile
pe = pefile.PE(sys.argv[1])
print("warnings:", "; ".join(pe.get_warnings()) or "none")
print("checksum valid:", pe.verify_checksum())
print("timestamp:", pe.FILE_HEADER.TimeDateStamp)
print("dynamic base:", pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
print("nx compatible:", pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)
print("relocations:", hasattr(pe, "DIRECTORY_ENTRY_BASERELOC") and len(pe.DIRECTORY_ENTRY_BASERELOC) > 0)
EOF
}

# pescan's verdicts other than "normal", "no" and "not found" (the section
# count is a number; the entropy's verdict follows its figure, in
# brackets): "field: verdict" a line, for fields that have one.
pescan_flags() {
  pescan -v "$1" | awk -F': +' 'NF >= 2 {
      field = $1; sub(/^ +/, "", field); verdict = $2
      if (sub(/^[0-9.]+ \(/, "", verdict)) sub(/\)$/, "", verdict)
      if (field == "section count" || verdict ~ /^(normal|no|not found)( |$)/) next
      print field ": " verdict }'
}

for file in "$stub" "$work/setup.exe" "$work/setup-signed.exe"; do
  name=$(basename "$file")
  e2e_begin "$name"
  dos=$(head -c 128 "$file" | od -An -v -tx1 | tr -d ' \n')
  [ "$dos" = "$standard_dos" ] || fail "the DOS header and program are not the standard ones: $dos"

  view=$(pefile_view "$file" 2>&1) || fail "pefile cannot read it: $view"
  for want in "warnings: none" "checksum valid: True" "dynamic base: True" "nx compatible: True" "relocations: True"; do
    grep -qxF "$want" <<<"$view" || fail "pefile: want '$want', reads: $(tr '\n' ',' <<<"$view")"
  done
  stamp=$(sed -n 's/^timestamp: //p' <<<"$view")
  [ "$stamp" = "$date" ] || fail "stamped $stamp, not the chosen date $date (a commit since the Windows build? build again)"

  allowed='^\.bss: zero length$'
  [ "$file" != "$stub" ] && allowed+='|^file entropy: probably packed$'
  flags=$(pescan_flags "$file" | grep -Ev "$allowed")
  [ -z "$flags" ] || fail "pescan flags: $(tr '\n' ';' <<<"$flags")"
  security=$(pesec "$file")
  for want in 'ASLR: +yes' 'DEP/NX: +yes'; do
    grep -qE "^$want\$" <<<"$security" || fail "pesec: want '$want', reads: $(tr '\n' ';' <<<"$security")"
  done
  passed "standard DOS stub, dated $(date -u -d "@$date" '+%F %T') UTC, pefile silent and checksum valid," \
    "ASLR and NX on, pescan flags nothing it should not"
done

[ "$failures" -eq 0 ] || exit 1
