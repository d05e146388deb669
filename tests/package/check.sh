#!/usr/bin/env bash
# Checks what scripts/package wrote in DIR, as a maker would use it, without
# installing anything on this machine:
# - the .deb, unpacked into an empty folder, gives a qzpack that reports the
#   package's version and, without --stub, builds from a payload an installer
#   that starts with the stub the package ships, lists and verifies;
# - its Depends names the C and C++ runtimes the binary links; lintian finds
#   no error and no warning; its manual page has a section for every command
#   of qzpack --help, and its changelog an entry for its version;
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

# Debian's own checker: no error and no warning.
lint=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ')
[ -z "$lint" ] || fail "lintian reports: $lint"
# The manual page is qzpack's help: a section for every command it lists.
manual=$(man -l "$tmp/root/usr/share/man/man1/qzpack.1.gz" 2>&1)
for c in $("$qzpack" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }'); do
  grep -qE "^ +$c$" <<<"$manual" || fail "the manual page has no section for $c"
done
zcat "$tmp/root/usr/share/doc/qzpack/changelog.gz" 2>/dev/null | head -n 1 | grep -qF "qzpack ($version)" ||
  fail "the changelog has no entry for $version"

# A payload whose files fit their places: a text, two 32-bit DLLs (Wine's,
# which set-up installs) and a Windows program (the stub itself).
payload="$tmp/payload"
mkdir -p "$payload"
printf 'Read me first.\n' >"$payload/readme.txt"
cp /usr/lib/i386-linux-gnu/wine/i386-windows/dciman32.dll "$payload/one.dll"
cp /usr/lib/i386-linux-gnu/wine/i386-windows/sfc_os.dll "$payload/two.dll"
cp "$stub" "$payload/config.exe"
setup="$tmp/setup.exe"
if (cd "$tmp" && "$qzpack" build -o "$setup" payload/readme.txt payload/one.dll payload/two.dll payload/config.exe \
    >"$tmp/build.log" 2>&1); then
  # The stub goes in whole, but for its header checksum, made for the whole file.
  checksum_at=$(($(od -An -tu4 -j 60 -N4 "$stub" | tr -d ' ') + 24 + 64 + 1))
  differing=$(cmp -l -n "$(stat -c %s "$stub")" "$setup" "$stub" | awk -v c="$checksum_at" '$1 < c || $1 > c + 3')
  [ -z "$differing" ] || fail "the installer does not start with the shipped stub"
  "$qzpack" list "$setup" >/dev/null || fail "qzpack list refuses the installer it built"
  "$qzpack" verify "$setup" >/dev/null || fail "qzpack verify refuses the installer it built"
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
  if zip_qzpack build -o setup-win.exe payload/readme.txt payload/one.dll payload/two.dll payload/config.exe; then
    cmp -s "$tmp/setup-win.exe" "$setup" || fail "the zip's qzpack.exe built another installer than the .deb's qzpack"
    zip_qzpack list setup-win.exe || fail "the zip's qzpack.exe: list refuses the installer it built"
    zip_qzpack verify setup-win.exe || fail "the zip's qzpack.exe: verify refuses the installer it built"
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
