#!/usr/bin/env bash
# wine-server.sh BUILD_DIR start|stop: the wineserver that the Windows
# suite of that build shares, as a CTest fixture. Start makes the prefix on
# first use, starts a persistent server and warms it with one program, so
# that Wine's services are up before the first test; stop ends it.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib/installer-driver.sh"
qzd_init "$1"
trap qzd_cleanup EXIT

case $2 in
start) qzd_server_start || { echo "Wine did not start a program in time"; exit 1; } ;;
stop) qzd_server_stop ;;
*)
  echo "usage: wine-server.sh BUILD_DIR start|stop" >&2
  exit 2
  ;;
esac
