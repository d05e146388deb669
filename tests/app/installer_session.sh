#!/usr/bin/env bash
# Runs the real installer under Wine and ends it as a user would, driven from
# outside with xdotool: once with a click on "Exit", once with Alt+F4. Each
# run must end by itself with exit code 0. The first run also saves a
# screenshot of the main window.
#
# Usage: installer_session.sh WINE_RUN INSTALLER_EXE SCREENSHOT_DIR
# Needs an X display (DISPLAY), as the Windows suite has inside xvfb-run.
set -uo pipefail

wine_run=$1
installer=$2
shots=$3
title='^Zivora Varelle$'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pid=
# Ends a run still going (its whole process group) and fails.
fail() {
  [ -n "$pid" ] && kill -- "-$pid" 2>/dev/null
  echo "FAIL: $*"
  exit 1
}

[ -n "${DISPLAY:-}" ] || fail "no X display"
command -v xdotool >/dev/null || fail "xdotool missing"

# Starts the installer in the background, in a process group of its own so
# that a run that does not end can be ended whole; sets $pid.
start() {
  setsid timeout 120 "$wine_run" "$installer" >"$work/wine.log" 2>&1 &
  pid=$!
}

# Prints the X window of the main window once it is shown.
find_window() {
  local w
  for _ in $(seq 1 150); do
    w=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Waits for the installer to end by itself; fails after 20 s.
expect_exit_zero() {
  local what=$1
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && fail "$what: the installer did not end"
  wait "$pid"
  local status=$?
  pid=
  [ "$status" -eq 0 ] || { cat "$work/wine.log"; fail "$what: exit code $status"; }
  echo "ok: $what ends the installer with exit code 0"
}

# Without a window manager, Wine's X window is the client area.
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
}

# Run 1: the window as laid out, a screenshot, then a click on Exit.
start
window=$(find_window) || fail "no window titled Zivora Varelle"
geometry "$window"
[ "$WIDTH" -eq 250 ] && [ "$HEIGHT" -eq 118 ] || fail "client area ${WIDTH}x${HEIGHT}, not 250x118"
mkdir -p "$shots"
sleep 0.5 # let the controls paint
import -window root -crop "$((WIDTH + 20))x$((HEIGHT + 20))+$((X - 10))+$((Y - 10))" \
  "$shots/main-window.png" || fail "screenshot"
echo "screenshot: $shots/main-window.png"
# Exit is at client (130, 80), 100 x 20. A first click may only focus.
xdotool mousemove "$((X + 180))" "$((Y + 90))" click 1
sleep 1
kill -0 "$pid" 2>/dev/null && xdotool mousemove "$((X + 180))" "$((Y + 90))" click 1
expect_exit_zero "a click on Exit"

# Run 2: Alt+F4, which reaches the window as the close box does.
start
window=$(find_window) || fail "no window titled Zivora Varelle (second run)"
xdotool windowfocus --sync "$window"
xdotool key alt+F4
expect_exit_zero "Alt+F4"
