#!/bin/sh
# wine-server.sh BUILD_DIR start|stop: the wineserver that the Windows
# suite of that build shares, as a CTest fixture. Start makes the prefix on
# first use, starts a persistent server and warms it with one program, so
# that Wine's services are up before the first test; stop ends it. All of
# Wine's output goes to /dev/null: its helper processes keep inherited pipes
# open, and ctest would wait for their end.
. "$(dirname "$0")/../scripts/lib/wine-env.sh"
qz_wine_env "$1"
limit=$((60 * $(qz_wine_slow)))

case $2 in
start)
  if [ ! -d "$WINEPREFIX" ]; then
    timeout "$limit" wine wineboot -i </dev/null >/dev/null 2>&1 || { echo "no Wine prefix made in $limit s"; exit 1; }
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || { echo "wineserver did not start"; exit 1; }
  timeout "$limit" wine cmd /c exit </dev/null >/dev/null 2>&1 || { echo "Wine did not start a program in $limit s"; exit 1; }
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  ;;
*)
  echo "usage: wine-server.sh BUILD_DIR start|stop" >&2
  exit 2
  ;;
esac
exit 0
