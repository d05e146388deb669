#!/usr/bin/env bash
# The compaction of a linked image, checked from outside: objdump reads the
# same section bytes at the same addresses and the same headers (but for
# the checksum, the time stamp and the import lookup tables, which go) in
# the image as linked and as compacted; the DOS header and program are the
# linker's, byte for byte; the resources alone lost their write permission;
# the file holds headers and sections in the fewest blocks and nothing
# else; the checksum is the one the linker's own algorithm gives. The tool
# run again gives the same bytes, and with another date only the stamp and
# the checksum change. Then damaged and unfamiliar images must be refused
# without an output file.
#
# Usage: compact_headers_test.sh COMPACT_TOOL OBJDUMP LINKED COMPACTED
# Exits 77 (skipped) when the images have not been built.
set -uo pipefail

tool=$1
objdump=$2
objcopy=${objdump%objdump}objcopy
linked=$3
compacted=$4

[ -f "$linked" ] && [ -f "$compacted" ] || { echo "SKIP: no $linked or $compacted (build the windows preset)"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

u16() { od -A n -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
u32() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
# Writes a little-endian 32-bit value at an offset.
put32() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# The image checksum, written from the format's definition: 16-bit words
# summed with end-around carry, the checksum field as zero, plus the length.
checksum() {
  local file=$1 field=$2
  od -A n -v -t u2 "$file" | awk -v field=$((field / 2)) -v size="$(stat -c %s "$file")" '
    { for (i = 1; i <= NF; i++) { if (n != field && n != field + 1) { s += $i; if (s > 65535) s = s % 65536 + 1 } n++ } }
    END { printf "%d\n", s + size }'
}

# Where the fields are, in either image.
pe_of() { u32 "$1" 60; }
optional_of() { echo $(($(pe_of "$1") + 24)); }

# 1. Nothing at any address changed but the import lookup tables: each
# descriptor's field for its table reads 0, and the section that ended
# with the tables ends where they began.
strip_name() { "$objdump" "$@" | sed 1,2d; }
image_base=$((0x$(strip_name -p "$linked" | awk '$1 == "ImageBase" { print $2 }')))
# Each import descriptor's address and its lookup table's, as linked.
descriptors=$(strip_name -p "$linked" | awk '/^The Import Tables/ { on = 1 } on && /^ [0-9a-f]+\t[0-9a-f]+ / && $2 != "00000000" { print $1, $2 }')
[ -n "$descriptors" ] || fail "objdump finds no import descriptor in $linked"
lookup_low=$(while read -r at lookup; do echo $((0x$lookup)); done <<<"$descriptors" | sort -n | head -1)
while read -r _ name size vma _; do
  rva=$((0x$vma - image_base))
  "$objcopy" -O binary -j "$name" "$linked" "$work/want" && "$objcopy" -O binary -j "$name" "$compacted" "$work/got" ||
    fail "objcopy cannot read $name"
  while read -r at _; do
    offset=$((0x$at - rva))
    [ "$offset" -ge 0 ] && [ "$offset" -lt $((0x$size)) ] && put32 "$work/want" "$offset" 0
  done <<<"$descriptors"
  [ "$lookup_low" -ge "$rva" ] && [ "$lookup_low" -lt $((rva + 0x$size)) ] && truncate -s $((lookup_low - rva)) "$work/want"
  cmp -s "$work/want" "$work/got" || fail "$name differs from the linked image's beyond its import lookup tables"
done < <(strip_name -h "$linked" | awk '/^ *[0-9]+ / { print $1, $2, $3, $4 }')
headers_read=$(strip_name -p "$compacted")
# The descriptors as they should now read, and the header fields that change.
expected=$(strip_name -p "$linked" | sed -E 's/^( [0-9a-f]+\t)[0-9a-f]+ /\100000000 /')
changed=$(diff <(echo "$expected") <(echo "$headers_read") | grep -a '^>' |
  grep -avE '^> (Time/Date|CheckSum|SizeOfInitializedData)\s')
[ -z "$changed" ] || fail "headers other than the time stamp, the checksum and the lookup tables' changed: $changed"
for want in 'There is an import table' 'Import Address Table Directory' 'Resource Directory' 'Base Relocation Directory'; do
  grep -aq "$want" <<<"$headers_read" || fail "objdump does not find '$want' in the compacted image"
done

# 2. The DOS header and program and the PE header's place are the linker's;
# the headers take the fewest blocks.
pe=$(pe_of "$compacted")
cmp -s <(head -c "$pe" "$linked") <(head -c "$pe" "$compacted") ||
  fail "the DOS header or program (the first $pe bytes) differ from the linker's"
opt=$(optional_of "$compacted")
sections=$(u16 "$compacted" $((opt - 18)))
end=$((opt + $(u16 "$compacted" $((opt - 4))) + 40 * sections))
align=$(u32 "$compacted" $((opt + 36)))
headers=$(u32 "$compacted" $((opt + 60)))
[ "$headers" -eq $(((end + align - 1) / align * align)) ] || fail "headers of $headers bytes hold $end bytes"
saved=$(($(stat -c %s "$linked") - $(stat -c %s "$compacted")))
# The file holds the headers and the sections' data, each in the fewest
# blocks, and nothing else. Each section keeps its flags, but .rsrc, which
# is no longer writable.
file_end=$headers
for ((i = 0; i < sections; i++)); do
  at=$((end - 40 * (sections - i)))
  virtual=$(u32 "$compacted" $((at + 8)))
  raw=$(u32 "$compacted" $((at + 16)))
  [ "$raw" -eq 0 ] || [ "$raw" -eq $(((virtual + align - 1) / align * align)) ] ||
    fail "section $i: $raw bytes in the file for $virtual"
  file_end=$((file_end + raw))
  name=$(head -c $((at + 8)) "$compacted" | tail -c 8 | tr -d '\0')
  flags=$(u32 "$compacted" $((at + 36)))
  want=$(u32 "$linked" $((at + 36)))
  [ "$name" = .rsrc ] && want=$((want & 0x7FFFFFFF))
  [ "$flags" -eq "$want" ] || fail "section $name: flags $(printf 0x%X "$flags"), not $(printf 0x%X "$want")"
done
[ "$file_end" -eq "$(stat -c %s "$compacted")" ] || fail "headers and sections take $file_end bytes, the file $(stat -c %s "$compacted")"

# 3. The checksum: the same definition gives the linker's for the linked image.
for image in "$linked" "$compacted"; do
  field=$(($(optional_of "$image") + 64))
  [ "$(checksum "$image" "$field")" -eq "$(u32 "$image" "$field")" ] ||
    fail "$image: stored checksum $(u32 "$image" "$field") is not the image's $(checksum "$image" "$field")"
done

# 3b. The stamp is the date file's: run again with the image's own date,
# the tool gives the same bytes; with another, only the stamp and the
# checksum differ.
stamp_at=$((pe + 8))
u32 "$compacted" "$stamp_at" >"$work/date"
perl "$tool" "$linked" "$work/again.exe" "$work/date" && cmp -s "$work/again.exe" "$compacted" ||
  fail "the tool run again with the image's date ($(cat "$work/date")) does not give the same bytes"
echo 1234567890 >"$work/date"
perl "$tool" "$linked" "$work/again.exe" "$work/date" || fail "the tool refuses the date 1234567890"
[ "$(u32 "$work/again.exe" "$stamp_at")" -eq 1234567890 ] || fail "the date 1234567890 is not stamped"
differing=$(cmp -l "$compacted" "$work/again.exe" | awk -v s="$stamp_at" -v c=$((opt + 64)) \
  '!(($1 - 1 >= s && $1 - 1 < s + 4) || ($1 - 1 >= c && $1 - 1 < c + 4))' | wc -l)
[ "$differing" -eq 0 ] || fail "another date changes $differing bytes besides the stamp and the checksum"
for bad in '' '-1' '12x' '4294967296' '1e9'; do
  printf '%s\n' "$bad" >"$work/date"
  rm -f "$work/again.exe"
  perl "$tool" "$linked" "$work/again.exe" "$work/date" 2>/dev/null && fail "the date '$bad' is taken"
  [ -e "$work/again.exe" ] && fail "the date '$bad' leaves an output file"
done
echo 1234567890 >"$work/date"

# 4. Images it does not understand: each case damages a copy of the linked
# image (name, offset, 32-bit value; a negative offset cuts the file short
# by that many bytes).
lopt=$(optional_of "$linked")
lpe=$(pe_of "$linked")
[ "$(u16 "$linked" "$lopt")" -eq $((0x20b)) ] && directories=$((lopt + 112)) || directories=$((lopt + 96))
lsections=$((lopt + $(u16 "$linked" $((lopt - 4)))))
# The linked lookup tables' section header and where they begin in the file.
for ((i = 0; i < $(u16 "$linked" $((lpe + 6))); i++)); do
  at=$((lsections + 40 * i))
  start=$(u32 "$linked" $((at + 12)))
  if [ "$lookup_low" -ge "$start" ] && [ "$lookup_low" -lt $((start + $(u32 "$linked" $((at + 8))))) ]; then
    lookup_section=$at
    lookup_file=$(($(u32 "$linked" $((at + 20))) + lookup_low - start))
  fi
done
refusals=(
  "a lookup table unlike its address table (a bound image)|$lookup_file|0x12345"
  "resources in a section with other data|$((directories + 8 * 2))|$(($(u32 "$linked" $((directories + 8 * 2))) + 16))"
  "lookup tables that do not end their section|$((lookup_section + 8))|$(($(u32 "$linked" $((lookup_section + 8))) + 16))"
  "a data directory in the lookup tables|$((directories + 8 * 12))|$lookup_low"
  "not an image|0|0x5A5A"
  "a damaged PE signature|$lpe|0x4550FF"
  "a PE header pointer past the end|60|0x7FFF0000"
  "a PE header pointer into the DOS header|60|0x20"
  "an unknown optional header|$lopt|0x107"
  "a COFF symbol table|$((lpe + 12))|0x400"
  "a certificate table|$((directories + 8 * 4))|0x6000"
  "a debug directory|$((directories + 8 * 6))|0x1000"
  "a section whose data lies in the headers|$((lsections + 20))|0x200"
  "a section with relocations|$((lsections + 24))|0x300"
  "bytes between the headers and the first section|$((lsections + 40 * $(u16 "$linked" $((lpe + 6))) + 8))|1"
  "a cut-short file|-100|0"
)
for case in "${refusals[@]}"; do
  IFS='|' read -r name offset value <<<"$case"
  cp "$linked" "$work/in.exe"
  if [ "$offset" -lt 0 ]; then
    truncate -s "$(($(stat -c %s "$linked") + offset))" "$work/in.exe"
  else
    put32 "$work/in.exe" "$offset" "$((value))"
  fi
  echo stale >"$work/out.exe"
  message=$(perl "$tool" "$work/in.exe" "$work/out.exe" "$work/date" 2>&1)
  status=$?
  if [ "$status" -eq 0 ]; then
    fail "$name: rewritten instead of refused"
  elif [ -e "$work/out.exe" ]; then
    fail "$name: refused but an output file is left"
  elif [ "$status" -ne 1 ] || [[ $message != *"not rewritten"* ]]; then
    fail "$name: refused with status $status, or without saying so: $message"
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "ok: $(basename "$compacted"): same bytes at every address, the linker's DOS header and program," \
  "file $saved bytes smaller, .rsrc read-only, stamp and checksum right, ${#refusals[@]} odd images refused"
