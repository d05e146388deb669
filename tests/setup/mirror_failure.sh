#!/usr/bin/env bash
# Set-up against a mirror that fails, tried the way it fails: an apt source
# that cannot be fetched (a file: source that does not exist makes
# apt-get update exit 100, as a mirror in mid-sync does) while three of
# set-up's packages, one of them i386, are missing. Then:
#  1. set-up warns once with apt's own line, installs the three, exits 0;
#  2. a second run prints nothing;
#  3. a package that no index has makes it try again against the release
#     and then stop with exit 1, naming the package and apt's error.
# It changes this machine's apt sources and packages while it runs, so it is
# run by hand, as root, not by scripts/test; the source is taken out again
# whatever happens, and the packages are left installed.
#
# Usage: tests/setup/mirror_failure.sh   (ends with "N passed, M failed")
set -uo pipefail
cd "$(dirname "$0")/../.."
[ "$(id -u)" -eq 0 ] || { echo "mirror_failure: run it as root: it changes apt's sources" >&2; exit 2; }

REMOVED=(zip xauth wine32-preloader:i386)
SOURCE=/etc/apt/sources.list.d/qz-unreachable-mirror.list
tmp=$(mktemp -d)
restore() {
  rm -f "$SOURCE"
  apt-get update -qq >/dev/null 2>&1
  rm -rf "$tmp"
}
trap restore EXIT

passed=0 failed=0
check() {
  if eval "$2"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    failed=$((failed + 1))
  fi
}

scripts/setup >/dev/null 2>&1 || { echo "mirror_failure: set-up fails before the test starts" >&2; exit 1; }
echo "deb [trusted=yes] file:/nonexistent/qz-unreachable-mirror ./" >"$SOURCE"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${REMOVED[@]}" >/dev/null 2>&1

scripts/setup >"$tmp/first.out" 2>"$tmp/first.err"
status=$?
check "set-up exits 0 past an index it cannot fetch (exit $status)" '[ "$status" -eq 0 ]'
check "set-up warns once about the index" '[ "$(grep -c "could not be fetched" "$tmp/first.err")" -eq 1 ]'
check "the warning quotes apt's own line" 'grep -q "qz-unreachable-mirror" "$tmp/first.err"'
for p in "${REMOVED[@]}"; do
  check "set-up installs $p" 'dpkg-query -W -f="\${Status}" "$p" 2>/dev/null | grep -q "install ok installed"'
done
scripts/setup >"$tmp/second.out" 2>&1
status=$?
check "a second run exits 0 and prints nothing (exit $status: $(cat "$tmp/second.out"))" \
  '[ "$status" -eq 0 ] && [ ! -s "$tmp/second.out" ]'

# A package no index has: set-up's own list, one name longer, in a copy.
sed 's/^PACKAGES=(/PACKAGES=(\n  qz-no-such-package/' scripts/setup >"$tmp/setup"
bash "$tmp/setup" >"$tmp/third.out" 2>"$tmp/third.err"
status=$?
check "set-up exits 1 when the install cannot be done (exit $status)" '[ "$status" -eq 1 ]'
check "it tries again against the release" 'grep -q "target release" "$tmp/third.err"'
check "it names the package it could not install" 'grep -q "could not install qz-no-such-package" "$tmp/third.err"'
check "it quotes apt's error" 'grep -q "E: Unable to locate package qz-no-such-package" "$tmp/third.err"'

[ "$failed" -eq 0 ] || { echo "--- set-up's output:"; cat "$tmp"/*.out "$tmp"/*.err; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
