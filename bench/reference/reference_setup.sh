#!/usr/bin/env bash
# setup.exe for the reference payload, and what it is made of, in one run:
# the first 670 bytes of the GPL-3 text, Wine's odbccu32.dll and odbccp32.dll
# (Debian's wine32) and a small MinGW GUI program built here, packed with
# qzpack's best level onto the installer stub of the Windows build.
# Prints figures only; it is a measurement, not a test.
#
# Usage: bench/reference/reference_setup.sh   (after both presets are built)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
here=$root/bench/reference

qzpack=$root/build/native/packer/qzpack
stub=$root/build/windows/app/installer.exe
wine_dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
for f in "$qzpack" "$stub" "$wine_dlls/odbccu32.dll" "$wine_dlls/odbccp32.dll" /usr/share/common-licenses/GPL-3; do
  [ -e "$f" ] || { echo "reference_setup: $f is missing (build both presets; scripts/setup installs the rest)" >&2; exit 1; }
done

out=$root/build/reference
mkdir -p "$out"
head -c 670 /usr/share/common-licenses/GPL-3 >"$out/readme.txt"
# No link timestamp, so that the program, and so the figures, are the same
# on every run.
i686-w64-mingw32-gcc-posix -Os -s -static -mwindows -Wl,--no-insert-timestamp \
  -o "$out/config.exe" "$here/reference_gui.c"

inputs=("$out/readme.txt" "$wine_dlls/odbccu32.dll" "$wine_dlls/odbccp32.dll" "$out/config.exe")
"$qzpack" build -o "$out/setup.exe" --stub "$stub" "${inputs[@]}" >/dev/null

size() { stat -c %s "$1"; }
total=0
for f in "${inputs[@]}"; do total=$((total + $(size "$f"))); done
setup=$(size "$out/setup.exe")
printf '%-28s %9s\n' "file" "bytes"
for f in "${inputs[@]}"; do printf '%-28s %9d\n' "${f##*/}" "$(size "$f")"; done
printf '%-28s %9d\n' "inputs together" "$total"
"$qzpack" list "$out/setup.exe"
printf '%-28s %9d\n' "installer stub" "$(size "$stub")"
printf '%-28s %9d  (%.1f%% of the inputs; aim: at most 100,000)\n' "setup.exe" "$setup" \
  "$(awk -v a="$setup" -v b="$total" 'BEGIN { print 100 * a / b }')"
