# The Wine environment of every Windows program the project runs, in one
# place: a prefix kept inside the Windows build folder, of the build's own
# architecture (32-bit for the installer's build; 64-bit for the test build
# that runs where the kernel runs no 32-bit programs), Wine's debug output
# off unless WINEDEBUG asks for it, and no offer to install Mono or Gecko.
# Sourced by cmake/wine-run (POSIX sh), scripts/windows-tests and the
# installer driver; defines functions and runs nothing by itself.

# qz_wine_env BUILD_DIR: exports the environment for that Windows build.
qz_wine_env() {
  local dir
  dir="$(cd "$1" && pwd)"
  WINEPREFIX="$dir/wineprefix"
  WINEARCH=win32
  if [ "$(cat "$dir/wine-arch" 2>/dev/null)" = win64 ]; then
    WINEARCH=win64
    WINELOADER=/usr/lib/wine/wine64
    export WINELOADER
    case ":$PATH:" in *":$dir/wine-bin:"*) ;; *) PATH="$dir/wine-bin:$PATH" ;; esac
  fi
  WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES PATH
}

# qz_wine_usable [BUILD_DIR]: true when Wine can start here, for that build
# (the 32-bit one by default). Wine's 32-bit loader is a 32-bit program,
# which a kernel without 32-bit support refuses ("Exec format error"); then
# QZ_WINE_ERROR says why.
qz_wine_usable() {
  QZ_WINE_ERROR=$( ( [ -z "${1:-}" ] || qz_wine_env "$1"; wine --version ) 2>&1) && return 0
  QZ_WINE_ERROR=${QZ_WINE_ERROR##*: }
  return 1
}
