# Configures and builds one preset, its log in build/build-PRESET.log; on
# failure prints the log's end and fails. Sourced by scripts/test,
# scripts/package and scripts/demo; defines qz_build and runs nothing by itself.

qz_build() {
  local preset=$1
  echo "== configure and build: $preset"
  local log="build/build-$preset.log"
  mkdir -p build
  cmake --preset "$preset" >"$log" 2>&1 &&
    cmake --build --preset "$preset" -j"$(nproc)" >>"$log" 2>&1 ||
    { tail -n 60 "$log"; echo "build of $preset failed"; return 1; }
  grep -E 'installer size' "$log" || true
}
