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

# qz_wine_preset: sets QZ_WINE_PRESET to the Windows build whose programs
# Wine can run here: "windows" where 32-bit Wine starts; else, on a kernel
# that runs no 32-bit programs, "windows64", built on the way, where 64-bit
# Wine starts; empty where neither starts. QZ_WINE_ERROR then says why
# 32-bit Wine cannot start. Fails only when that build fails. Needs
# scripts/lib/wine-env.sh.
qz_wine_preset() {
  QZ_WINE_PRESET=windows
  qz_wine_usable && return 0
  local reason=$QZ_WINE_ERROR
  QZ_WINE_PRESET=
  qz_build windows64 || { QZ_WINE_ERROR=$reason; return 1; }
  qz_wine_usable build/windows64 && QZ_WINE_PRESET=windows64
  QZ_WINE_ERROR=$reason
  return 0
}
