#!/usr/bin/env bash
# Runs every command the README shows under "Build from source", "Packages",
# "Tests" and "Benchmarks and fuzzing" once, in its shortest form, as a new
# user would copy it: the benchmarks on a small corpus or with one
# repetition, the fuzzers for a few seconds. A command that exits non-zero
# fails and names itself; so does a README command this table does not know,
# so that no command shown to users goes unrun.
#
# Usage: tests/readme/commands.sh   (after both presets are built, as
# scripts/test does). Logs in build/readme-commands/. Ends with the line
# "README commands: N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/../.."

# Pairs: the command as the README shows it, then the form run here; "="
# runs it as shown; a text in parentheses says which other part of
# scripts/test runs it.
COMMANDS=(
  "scripts/demo" "scripts/demo --auto"
  "scripts/test" "(.ci/run runs it)"
  "scripts/package" "(scripts/test's package check runs it)"
  "ctest --preset native -R pack_tests" "="
  "xvfb-run -a ctest --preset windows -R runtime_tests" "="
  "build/windows/wine-run build/windows/tests/runtime/runtime_tests.exe --gtest_filter='Strings.*'" "="
  "bench/summary.sh" "bench/summary.sh --quick"
  "build/native/bench/block_decode_bench"
  "QZ_BENCH_CORPUS=\$PWD/bench/corpus-quick.txt build/native/bench/block_decode_bench --benchmark_repetitions=1 --benchmark_min_time=0.01"
  "build/native/bench/packer/packer_bench" "build/native/bench/packer/packer_bench bench/corpus-quick.txt"
  "bench/scaling.sh --quick" "="
  "bench/scaling.sh" "(its shortest form is the --quick row above)"
  "bench/reference/reference_setup.sh" "="
  "bench/install_timing.sh" "bench/install_timing.sh 1"
  "scripts/fuzz 600" "scripts/fuzz 5"
  "scripts/fuzz 600 block_roundtrip" "scripts/fuzz 5 block_roundtrip"
  "cmake --build --preset windows --target block_decode_timing" "="
  "build/windows/wine-run build/windows/bench/block_decode_timing.exe"
  "build/windows/wine-run build/windows/bench/block_decode_timing.exe \$PWD/bench/corpus-quick.txt"
)

# The commands of the README's shell blocks in those sections, comments cut.
readme_commands() {
  awk '
    /^## / { wanted = ($0 == "## Build from source" || $0 == "## Tests" || $0 == "## Benchmarks and fuzzing") }
    /^```/ { inblock = !inblock && /^```sh/; next }
    wanted && inblock { sub(/[ \t]+#.*$/, ""); sub(/^[ \t]+/, ""); if ($0 != "") print }
  ' README.md
}

# Where 32-bit Wine cannot start at all, the Windows suite is skipped, and so
# are the commands that run Windows programs.
. scripts/lib/wine-env.sh
NEEDS_WINE='scripts/demo|--preset windows -R|wine-run|install_timing'
wine=1
qz_wine_usable || wine=

log_dir=build/readme-commands
rm -rf "$log_dir"
mkdir -p "$log_dir"
passed=0
failed=0

declare -A known
for ((i = 0; i < ${#COMMANDS[@]}; i += 2)); do
  known[${COMMANDS[i]}]=1
done
while IFS= read -r shown; do
  if [ -z "${known[$shown]:-}" ]; then
    echo "FAIL  the README shows a command that CI does not run: $shown (add it to tests/readme/commands.sh)"
    failed=$((failed + 1))
  fi
done < <(readme_commands)

for ((i = 0; i < ${#COMMANDS[@]}; i += 2)); do
  shown=${COMMANDS[i]}
  run=${COMMANDS[i + 1]}
  [ "$run" = "=" ] && run=$shown
  if [[ $run == "("* ]]; then
    echo "      $shown $run"
    continue
  fi
  if [ -z "$wine" ] && [[ $run =~ $NEEDS_WINE ]]; then
    echo "skip  $run (32-bit Wine cannot start here)"
    continue
  fi
  log=$log_dir/$((i / 2 + 1)).log
  start=$SECONDS
  if (eval "$run") </dev/null >"$log" 2>&1; then
    echo "ok    $((SECONDS - start)) s  $run"
    passed=$((passed + 1))
  else
    status=$?
    echo "FAIL  $((SECONDS - start)) s  $run (exit $status), the README's \"$shown\"; its log's end ($log):"
    tail -n 15 "$log" | sed 's/^/      /'
    failed=$((failed + 1))
  fi
done
echo "README commands: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
