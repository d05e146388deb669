#!/usr/bin/env bash
# Builds the installer stub with the windows preset in two fresh build
# folders of different names and compares the two images byte for byte: a
# link time, a folder name or anything random in the image shows up here.
#
# Usage: stub_reproducible.sh SOURCE_DIR WORK_DIR
set -uo pipefail

source_dir=$1
work=$2/stub-reproducible
rm -rf "$work"
mkdir -p "$work"
cd "$source_dir" || exit 1

stubs=()
for name in one second-build; do
  dir=$work/$name
  log=$work/$name.log
  if ! { cmake --preset windows -B "$dir" >"$log" 2>&1 && cmake --build "$dir" --target installer -j2 >>"$log" 2>&1; }; then
    tail -n 30 "$log"
    echo "FAIL: the stub did not build in $dir"
    exit 1
  fi
  stubs+=("$dir/app/installer.exe")
done

if ! cmp -s "${stubs[@]}"; then
  echo "FAIL: two builds of the stub differ ($(cmp -l "${stubs[@]}" | wc -l) bytes); first differences (offset, octal bytes):"
  cmp -l "${stubs[@]}" | head -n 10
  echo "builds kept in $work"
  exit 1
fi
echo "ok: the stub built in two folders is byte-identical ($(stat -c %s "${stubs[0]}") bytes)"
rm -rf "$work"
