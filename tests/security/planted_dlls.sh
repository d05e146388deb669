#!/usr/bin/env bash
# The installer, run from a folder that holds planted comctl32.dll,
# uxtheme.dll and dwmapi.dll, with Wine told to prefer DLLs from the
# application's folder (as Windows does for every DLL that is not a
# KnownDLL), must load none of them: through start-up, the main window and
# Exit, and through an install started before any directory was chosen.
#
# A control program that imports comctl32 the ordinary way must pick up the
# planted DLL in the same set-up, or the test could not tell.
#
# Wine itself loads version.dll for its window code, and comctl32.dll for its
# folder browser, from the application's folder whatever the program does;
# that says nothing about Windows, so version.dll is not planted and the
# browser is not opened here.
#
# Usage: planted_dlls.sh WINE_RUN INSTALLER_EXE QZPACK_EXE PLANTED_DIR PROBE_EXE SAMPLES_DIR
set -uo pipefail

wine_run=$1 installer=$2 qzpack=$3 planted=$4 probe=$5 samples=$6
prefix=$(dirname "$wine_run")/wineprefix
folder="$prefix/drive_c/qz-planted"
marker="$folder/planted-dll-loaded.txt"
title='^Zivora Varelle$'
pid=

fail() {
  [ -n "$pid" ] && kill -- "-$pid" 2>/dev/null
  echo "FAIL: $*"
  exit 1
}

[ -n "${DISPLAY:-}" ] || fail "no X display"
windows_path() { echo "Z:${1//\//\\}"; }

rm -rf "$folder"
mkdir -p "$folder"
"$wine_run" "$qzpack" build -o "$(windows_path "$folder/setup.exe")" --stub "$(windows_path "$installer")" \
  --level 1 "$(windows_path "$samples/zivoravarelle-readme.txt")" "$(windows_path "$samples/zivora.dll")" \
  "$(windows_path "$samples/zivoravarelle.dll")" "$(windows_path "$samples/zivora_config.exe")" \
  >"$folder/qzpack.log" 2>&1 || { cat "$folder/qzpack.log"; fail "qzpack build"; }
cp "$planted"/comctl32.dll "$planted"/uxtheme.dll "$planted"/dwmapi.dll "$probe" "$folder/"

export WINEDLLOVERRIDES="comctl32,uxtheme,dwmapi=n,b;mscoree,mshtml="

# The control: an ordinary import of comctl32 loads the planted one.
timeout 60 "$wine_run" "$folder/$(basename "$probe")" >/dev/null 2>&1
grep -qi "comctl32.dll loaded by" "$marker" 2>/dev/null ||
  fail "control: a program importing comctl32 did not load the planted DLL; this set-up cannot detect planting"
echo "ok: control program picked up the planted comctl32.dll"
rm -f "$marker"

start() {
  setsid timeout 120 "$wine_run" "$folder/setup.exe" >"$folder/wine.log" 2>&1 &
  pid=$!
}

# Prints the X windows titled Zivora Varelle, one a line.
windows() { xdotool search --onlyvisible --name "$title" 2>/dev/null; }

# Waits until at least $1 such windows show; prints the newest.
wait_windows() {
  local want=$1 list
  for _ in $(seq 1 150); do
    list=$(windows)
    [ "$(echo "$list" | grep -c .)" -ge "$want" ] && { echo "$list" | tail -n 1; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Clicks at client coordinates of an X window; retries while the process
# runs and the click had no effect yet (a first click may only focus).
click() {
  local window=$1 x=$2 y=$3
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove "$((X + x))" "$((Y + y))" click 1
}

wait_end() {
  for _ in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; local s=$?; pid=; return $s; }
    sleep 0.2
  done
  fail "$1: the installer did not end"
}

# Run 1: start-up, the main window, Exit.
start
window=$(wait_windows 1) || fail "no main window"
sleep 0.5
click "$window" 180 90
wait_end "Exit"
echo "ok: start-up, main window and Exit ran"

# Run 2: Install before any directory was chosen; its report is dismissed.
start
window=$(wait_windows 1) || fail "no main window (second run)"
sleep 0.5
click "$window" 70 90
box=$(wait_windows 2) || { sleep 1; click "$window" 70 90; box=$(wait_windows 2); } || fail "no report after Install"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return
wait_end "Install" || true
echo "ok: an install into the installer's own folder ran"

if [ -e "$marker" ]; then
  cat "$marker"
  fail "the installer loaded a planted DLL"
fi
echo "ok: no planted DLL was loaded"
rm -rf "$folder"
