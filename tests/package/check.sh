#!/usr/bin/env bash
# Checks what scripts/package wrote in DIR, as a maker would use it, without
# installing anything on this machine:
# - the .deb, unpacked into an empty folder, gives a qzpack that reports the
#   package's version and, without --stub, builds from a payload an installer
#   that starts with the stub the package ships, lists and verifies;
# - its Depends names the C and C++ runtimes the binary links;
# - the zip holds exactly qzpack.exe, installer.exe and README.md, and its
#   installer.exe is the one the .deb ships; where 32-bit Wine starts, its
#   qzpack.exe, unzipped, finds installer.exe beside itself and builds the
#   same installer from the same payload, and lists and verifies it;
# - with AGAIN_DIR (a second run of scripts/package), both runs gave the same
#   bytes.
# Usage: tests/package/check.sh DIR [AGAIN_DIR]; exit 0 when all hold.
set -uo pipefail
dir=$1
again=${2:-}
failures=0
fail() {
  echo "package check: $*"
  failures=$((failures + 1))
}

deb=$(ls "$dir"/*.deb 2>/dev/null)
zip=$(ls "$dir"/*.zip 2>/dev/null)
[ -f "$deb" ] && [ -f "$zip" ] || { echo "package check: no .deb and .zip in $dir"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root" || fail "dpkg-deb -x failed"
qzpack="$tmp/root/usr/bin/qzpack"
stub="$tmp/root/usr/share/qzpack/installer.exe"

version=$(dpkg-deb -f "$deb" Version)
[ "$("$qzpack" --version | head -n 1)" = "qzpack $version" ] || fail "qzpack --version does not say $version"
"$qzpack" --version | grep -qF "$stub" || fail "qzpack --version does not name the shipped stub"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
  [[ $depends == *"$lib "* ]] || fail "Depends lacks $lib: $depends"
done

# A made-up payload, no DLLs or program among it: build and verify are told
# not to check the files' places.
payload="$tmp/payload"
mkdir -p "$payload"
printf 'Read me first.\n' >"$payload/readme.txt"
head -c 3000 "$stub" >"$payload/one.dll"
seq 1 2000 >"$payload/two.dll"
printf 'config' >"$payload/config.exe"
setup="$tmp/setup.exe"
if (cd "$tmp" && "$qzpack" build -o "$setup" --no-role-check payload/readme.txt payload/one.dll payload/two.dll payload/config.exe \
    >"$tmp/build.log" 2>&1); then
  cmp -s -n "$(stat -c %s "$stub")" "$setup" "$stub" || fail "the installer does not start with the shipped stub"
  "$qzpack" list "$setup" >/dev/null || fail "qzpack list refuses the installer it built"
  "$qzpack" verify --no-role-check "$setup" >/dev/null || fail "qzpack verify refuses the installer it built"
else
  cat "$tmp/build.log"
  fail "qzpack build without --stub failed"
fi

entries=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$entries" = "README.md installer.exe qzpack.exe " ] || fail "the zip holds: $entries"
unzip -p "$zip" installer.exe | cmp -s - "$stub" || fail "the zip and the .deb ship different installer.exe"

# zip_qzpack ARGS...: the zip's qzpack.exe under Wine, from $tmp, its output
# in $tmp/wine.log.
zip_qzpack() {
  (cd "$tmp" && timeout "$((60 * $(qz_wine_slow)))" wine "$tmp/zip/qzpack.exe" "$@" </dev/null >"$tmp/wine.log" 2>&1)
}
. "$(dirname "$0")/../../scripts/lib/wine-env.sh"
if qz_wine_usable; then
  qz_wine_env "$(dirname "$0")/../../build/windows"
  unzip -q "$zip" -d "$tmp/zip" || fail "unzip failed"
  if zip_qzpack build -o setup-win.exe --no-role-check payload/readme.txt payload/one.dll payload/two.dll payload/config.exe; then
    cmp -s "$tmp/setup-win.exe" "$setup" || fail "the zip's qzpack.exe built another installer than the .deb's qzpack"
    zip_qzpack list setup-win.exe || fail "the zip's qzpack.exe: list refuses the installer it built"
    zip_qzpack verify --no-role-check setup-win.exe || fail "the zip's qzpack.exe: verify refuses the installer it built"
  else
    cat "$tmp/wine.log"
    fail "the zip's qzpack.exe: build without --stub failed"
  fi
else
  echo "package check: the zip's qzpack.exe not run (32-bit Wine cannot start here: $QZ_WINE_ERROR)"
fi

if [ -n "$again" ]; then
  for f in "$deb" "$zip"; do
    cmp -s "$f" "$again/$(basename "$f")" || fail "two runs gave different $(basename "$f")"
  done
fi

[ "$failures" -eq 0 ] && echo "package check: passed ($(basename "$deb"), $(basename "$zip"))"
[ "$failures" -eq 0 ]
