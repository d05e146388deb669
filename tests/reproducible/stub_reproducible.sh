#!/usr/bin/env bash
# Builds the installer stub with the windows preset in two fresh build
# folders of different names and compares the two images byte for byte: a
# link time, a folder name or anything random in the image shows up here.
# First, the rule that chooses the date the stub is stamped with.
#
# Usage: stub_reproducible.sh SOURCE_DIR WORK_DIR
set -uo pipefail

source_dir=$1
work=$2/stub-reproducible
rm -rf "$work"
mkdir -p "$work"
cd "$source_dir" || exit 1

# The date the stub is stamped with, by cmake/SourceDate.cmake's rule: the
# date wins over the commit, the commit over the version's date; a bad
# date or an unreadable checkout fails rather than take another, and a
# date that did not change leaves its file alone, so nothing relinks.
date_of() {
  local dir=$1
  shift
  env "$@" cmake -DSOURCE_DIR="$dir" -DFALLBACK="$version_date" -DOUTPUT="$work/date" \
    -P "$source_dir/cmake/SourceDate.cmake" >"$work/date.log" 2>&1 && cat "$work/date"
}
version_date=$(sed -n 's/^set(QZ_VERSION_DATE \(.*\))$/\1/p' "$source_dir/CMakeLists.txt")
mkdir -p "$work/archive" "$work/broken"
echo "gitdir: $work/no-such-repository" >"$work/broken/.git"
checks=(
  "SOURCE_DATE_EPOCH|$source_dir|SOURCE_DATE_EPOCH=1700000000|1700000000"
  "the version's date in a source archive|$work/archive|-u SOURCE_DATE_EPOCH|$(date -u -d "$version_date" +%s)"
  "a SOURCE_DATE_EPOCH that is no date|$source_dir|SOURCE_DATE_EPOCH=yesterday|"
  "a checkout whose commit git cannot read|$work/broken|-u SOURCE_DATE_EPOCH|"
)
[ -e "$source_dir/.git" ] && checks+=("the last commit's time|$source_dir|-u SOURCE_DATE_EPOCH|$(git -C "$source_dir" log -1 --format=%ct)")
for check in "${checks[@]}"; do
  IFS='|' read -r what dir setting want <<<"$check"
  rm -f "$work/date"
  got=$(date_of "$dir" $setting)
  [ "$got" = "$want" ] || { echo "FAIL: $what: the date is '$got', not '$want'"; cat "$work/date.log"; exit 1; }
done
date_of "$work/archive" -u SOURCE_DATE_EPOCH >/dev/null
touch -d @1000000000 "$work/date"
date_of "$work/archive" -u SOURCE_DATE_EPOCH >/dev/null
[ "$(stat -c %Y "$work/date")" -eq 1000000000 ] || { echo "FAIL: the same date written again touches its file"; exit 1; }

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
