# The Wine environment of every Windows program the project runs, in one
# place: a 32-bit prefix kept inside the Windows build folder, Wine's debug
# output off unless WINEDEBUG asks for it, and no offer to install Mono or
# Gecko. Sourced by cmake/wine-run (POSIX sh), scripts/windows-tests and the
# installer driver; defines one function and runs nothing by itself.

# qz_wine_env BUILD_DIR: exports the environment for that Windows build.
qz_wine_env() {
  WINEPREFIX="$(cd "$1" && pwd)/wineprefix"
  WINEARCH=win32
  WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
}
