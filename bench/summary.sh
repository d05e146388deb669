#!/usr/bin/env bash
# The size and speed figures in one run, side by side with what they are
# measured against: the installer stub's sections, setup.exe for the
# reference payload, the packer's best level against zlib -9, and the
# decoder against zlib's inflate natively (the -O3 build and the installer's
# own flags) and under Wine (the 32-bit build, where 32-bit code runs
# natively). Prints figures only; it is a measurement, not a test, and no
# figure is judged.
#
# Usage: bench/summary.sh [--quick]   (after scripts/test, which builds every
# preset it needs; the decoder built with the installer's flags natively goes
# to build/native-inst, made here). --quick times one repetition on the
# three files of bench/corpus-quick.txt: it checks that every step still
# runs, and its figures say little.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=
case "${1:-}" in
"") ;;
--quick) quick=1 ;;
*) echo "usage: bench/summary.sh [--quick]" >&2; exit 2 ;;
esac
packer_corpus=()
decode_flags=()
if [ -n "$quick" ]; then
  packer_corpus=(bench/corpus-quick.txt)
  decode_flags=(--benchmark_repetitions=1 --benchmark_min_time=0.01)
  export QZ_BENCH_CORPUS=$PWD/bench/corpus-quick.txt
fi
. scripts/lib/wine-env.sh
. scripts/lib/build.sh

stub=build/windows/app/installer.exe
for f in "$stub" build/native/bench/packer/packer_bench build/native/bench/block_decode_bench; do
  [ -e "$f" ] || { echo "summary: $f is missing: run scripts/test first" >&2; exit 1; }
done

budget=$(sed -n 's/^QZ_INSTALLER_SIZE_BUDGET:INTERNAL=//p' build/windows/CMakeCache.txt)
echo "== installer stub (the build fails above $budget bytes)"
cmake -DFILE="$stub" -DBUDGET=$((1 << 30)) -DOBJDUMP=i686-w64-mingw32-objdump -P cmake/CheckSize.cmake 2>&1 |
  sed 's/^-- //; s/ (budget [0-9]*)//'

echo "== setup.exe for the reference payload (aim: at most 100,000 bytes)"
bash bench/reference/reference_setup.sh | tail -n 1

echo "== packer, ${packer_corpus[0]:-17-file corpus}: best level against zlib -9 and xz -9e"
build/native/bench/packer/packer_bench "${packer_corpus[@]}" | grep -E '^(file|total|ratio to input)' | tail -n 3

echo "== decoder against zlib's inflate, native (packer's -O3 build, then the installer's flags)"
build/native/bench/block_decode_bench --benchmark_color=false "${decode_flags[@]}" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep 'ratio QZ'
cmake -S . -B build/native-inst -DCMAKE_BUILD_TYPE=Release -DQZ_CODEC_INSTALLER_WAY=ON |
  { grep -F "the installer's way" || true; } | sed 's/^-- /   (/; s/$/)/'
cmake --build build/native-inst -j"$(nproc)" --target block_decode_bench >/dev/null
build/native-inst/bench/block_decode_bench --benchmark_color=false "${decode_flags[@]}" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep 'ratio QZ'

if ! qz_wine_usable; then
  echo "== decoder under Wine: not measured (32-bit Wine cannot start here: $QZ_WINE_ERROR)"
  exit 0
fi
if qz_wine_emulated; then
  echo "== decoder under Wine: not measured (32-bit code runs emulated here, so its time says nothing about Windows)"
  exit 0
fi
echo "== decoder against zlib's inflate under Wine, 32-bit build (installer's flags)"
cmake --build --preset windows --target block_decode_timing >/dev/null
build/windows/wine-run build/windows/bench/block_decode_timing.exe ${QZ_BENCH_CORPUS:+"$QZ_BENCH_CORPUS"} | grep 'ratio QZ'
