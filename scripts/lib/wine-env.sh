# The Wine environment of every Windows program the project runs, in one
# place: a 32-bit prefix kept inside the Windows build folder, Wine's debug
# output off unless WINEDEBUG asks for it, and no offer to install Mono or
# Gecko. Sourced by cmake/wine-run (POSIX sh), scripts/windows-tests and the
# installer driver; defines functions and runs nothing by itself.

# qz_wine_env BUILD_DIR: exports the environment for that Windows build.
qz_wine_env() {
  WINEPREFIX="$(cd "$1" && pwd)/wineprefix"
  WINEARCH=win32
  WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
}

# qz_wine_usable: true when Wine can start here. Its loader is a 32-bit
# program, which a kernel without 32-bit support refuses ("Exec format
# error"); then QZ_WINE_ERROR says why.
qz_wine_usable() {
  QZ_WINE_ERROR=$(wine --version 2>&1) && return 0
  QZ_WINE_ERROR=${QZ_WINE_ERROR##*: }
  return 1
}
