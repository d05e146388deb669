# The Wine environment of every Windows program the project runs, in one
# place: a prefix kept inside the Windows build folder, Wine's debug output
# off unless WINEDEBUG asks for it, and no offer to install Mono or Gecko.
# Sourced by cmake/wine-run (POSIX sh) and the installer driver; defines
# functions and runs nothing by itself.
#
# The suite's prefix is a 64-bit one: the 32-bit installer runs there as it
# does on today's 64-bit Windows, and where the kernel runs no 32-bit code,
# Wine's own services run natively and only our program is emulated. A
# 32-bit prefix, the platform the installer was written for, keeps the happy
# path (QZ_WINE_ARCH=win32).

# qz_wine_env BUILD_DIR: exports the environment for that Windows build, in
# its prefix of architecture QZ_WINE_ARCH (win64 unless set).
qz_wine_env() {
  local dir
  dir="$(cd "$1" && pwd)"
  WINEARCH=${QZ_WINE_ARCH:-win64}
  WINEPREFIX="$dir/wineprefix-$WINEARCH"
  WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
}

# qz_wine_usable: true when 32-bit Wine can start here; else QZ_WINE_ERROR
# says why (a kernel without 32-bit support and no interpreter registered
# for it: "Exec format error").
qz_wine_usable() {
  QZ_WINE_ERROR=$(/usr/lib/wine/wine --version 2>&1) && return 0
  QZ_WINE_ERROR=${QZ_WINE_ERROR##*: }
  return 1
}

# qz_wine_emulated: true when 32-bit programs run through qemu's user-mode
# emulator (scripts/setup registers it where the kernel runs none).
qz_wine_emulated() {
  grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386
}

# qz_wine_slow: how many times longer a wait for a 32-bit program must be:
# 1 where 32-bit code runs natively, 4 under emulation.
qz_wine_slow() {
  if qz_wine_emulated; then echo 4; else echo 1; fi
}

# qz_wine_crashed FILE: true when Wine's output in FILE tells of a crash of
# the Unix side of a process: glibc's stack check, or the emulator ending it.
qz_wine_crashed() {
  grep -qs -e 'stack smashing detected' -e 'uncaught target signal' "$1"
}
