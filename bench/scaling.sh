#!/bin/bash
# How qzpack's compressor scales: for each size and kind of data, the time
# and peak memory of the compressor at levels 1, 5 and 9 (compress_file:
# `qzpack compress` without its size limit and its check of the block),
# beside xz -9e and zstd -19 on the same file in the same run. It prints
# figures and judges nothing; no test depends on them.
#
#   bench/scaling.sh [--quick] [--sizes "1 16 256"] [--runs N] [--compressor PATH]
#
# Sizes are in MiB (default 1, 16 and 256, each timed once; --runs 3 keeps
# the fastest of three, for figures on a busy machine); --quick is 1 and
# 4 MiB. Kinds: text (documentation and
# licence texts of the machine), binaries (Wine's 32-bit PE files),
# incompressible (an AES-CTR key stream) and all-zero. Inputs longer than
# their sources repeat them, farther back than any window looks. Times are
# the process's user CPU seconds (the machine may be shared), memory its
# peak resident size. Needs the native build (bench/summary.sh's builds do).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
COMPRESSOR=$ROOT/build/native/bench/packer/compress_file
SIZES="1 16 256"
RUNS=1
while [ $# -gt 0 ]; do
  case $1 in
    --quick) SIZES="1 4"; RUNS=1 ;;
    --sizes) SIZES=$2; shift ;;
    --runs) RUNS=$2; shift ;;
    --compressor) COMPRESSOR=$2; shift ;;
    *) echo "usage: $0 [--quick] [--sizes \"MIB ...\"] [--runs N] [--compressor PATH]" >&2; exit 2 ;;
  esac
  shift
done
for tool in "$COMPRESSOR" /usr/bin/time xz zstd openssl; do
  command -v "$tool" >/dev/null || { echo "scaling.sh: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qz-scaling.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The sources of each kind, in a fixed order.
text_sources() {
  find /usr/share/doc /usr/share/common-licenses -type f \( -name '*.md' -o -name '*.txt' -o -name 'copyright' \
    -o -path '*/common-licenses/*' \) -size +1k 2>/dev/null | LC_ALL=C sort
}
binary_sources() {
  find /usr/lib/i386-linux-gnu/wine/i386-windows -type f -size +1k 2>/dev/null | LC_ALL=C sort
}

# make_input KIND BYTES FILE
make_input() {
  local kind=$1 bytes=$2 file=$3
  case $kind in
    zeros) head -c "$bytes" /dev/zero >"$file" ;;
    incompressible)
      { openssl enc -aes-128-ctr -nosalt -pass pass:qz-scaling -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c "$bytes" >"$file" ;;
    text | binaries)
      local list=$WORK/sources
      if [ "$kind" = text ]; then text_sources >"$list"; else binary_sources >"$list"; fi
      [ -s "$list" ] || { echo "scaling.sh: no $kind sources found" >&2; exit 1; }
      # The loop ends when head has enough and cat meets a closed pipe.
      { while xargs -d '\n' cat <"$list"; do :; done 2>/dev/null || true; } | head -c "$bytes" >"$file" ;;
  esac
  [ "$(stat -c %s "$file")" -eq "$bytes" ] || { echo "scaling.sh: could not make $bytes bytes of $kind" >&2; exit 1; }
}

# measure COMMAND...: prints "user-seconds peak-KiB" of the fastest of RUNS
# runs. The shell's own timer gives the user time to the millisecond (GNU
# time's to the hundredth of a second, too coarse at 1 MiB); GNU time gives
# the peak.
measure() {
  local best="" run seconds kib
  for ((run = 0; run < RUNS; ++run)); do
    { TIMEFORMAT=%3U; time /usr/bin/time -f '%M' -o "$WORK/memory" "$@" >/dev/null 2>"$WORK/stderr"; } \
      2>"$WORK/time" || { echo "FAILED: $* ($(tail -n 1 "$WORK/stderr"))" >&2; echo "- -"; return; }
    seconds=$(<"$WORK/time")
    kib=$(<"$WORK/memory")
    if [ -z "$best" ] || awk -v a="$seconds" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best="$seconds $kib"
    fi
  done
  echo "$best"
}

printf '%-15s %5s %-10s %9s %9s %9s %10s\n' kind MiB tool seconds "s/MiB" "peak MB" "out %"
declare -A PER_MIB
for kind in text binaries incompressible zeros; do
  for mib in $SIZES; do
    input=$WORK/input
    make_input "$kind" $((mib << 20)) "$input"
    for tool in qz1 qz5 qz9 xz zstd; do
      out=$WORK/out
      case $tool in
        qz?) cmd=("$COMPRESSOR" "${tool#qz}" "$input" "$out") ;;
        xz) cmd=(sh -c 'exec xz -9e -T1 -c "$1" >"$2"' sh "$input" "$out") ;;
        zstd) cmd=(zstd -19 -T1 -q -f "$input" -o "$out") ;;
      esac
      read -r seconds kib < <(measure "${cmd[@]}")
      [ "$seconds" = - ] && continue
      per=$(awk -v s="$seconds" -v m="$mib" 'BEGIN { printf "%.4f", s / m }')
      PER_MIB[$kind/$tool]+=" $per"
      printf '%-15s %5s %-10s %9s %9s %9.1f %10.2f\n' "$kind" "$mib" "$tool" "$seconds" "$per" \
        "$(awk -v k="$kib" 'BEGIN { print k * 1024 / 1e6 }')" \
        "$(awk -v o="$(stat -c %s "$out")" -v i=$((mib << 20)) 'BEGIN { print 100 * o / i }')"
    done
  done
done

echo
echo "time per MiB, slowest size over fastest (qz1/qz5/qz9: qzpack at levels 1, 5 and 9):"
for kind in text binaries incompressible zeros; do
  line=$(printf '%-15s' "$kind")
  for tool in qz1 qz5 qz9 xz zstd; do
    spread=$(echo "${PER_MIB[$kind/$tool]:-}" | awk '{ lo = hi = $1; for (i = 2; i <= NF; ++i) { if ($i < lo) lo = $i; if ($i > hi) hi = $i }
      if (NF == 0) print "-"; else if (lo > 0) printf "%.2f", hi / lo; else print "n/a" }')
    line+=$(printf ' %s %5s' "$tool" "$spread")
  done
  echo "$line"
done
echo "seconds: user CPU time of the process; peak MB: its maximum resident size (10^6 bytes)"
