#!/usr/bin/env bash
# Runs the real installer under Wine and ends it without installing, as a
# user would, driven from outside with xdotool: a click on Exit, Alt+F4 (the
# close box's command), and the keyboard through the Tab order. Each run
# starts a real setup.exe from a fresh folder that already holds files of
# every name the installer uses, "tmp.pak" included; ending it must leave
# that folder and the registry exactly as they were, with exit code 0.
# The first run saves a screenshot of the main window.
#
# Usage: installer_session.sh BUILD_DIR INSTALLER_EXE QZPACK SAMPLES_DIR SCREENSHOT_DIR
# Needs an X display (DISPLAY), as the Windows suite has inside xvfb-run.
set -uo pipefail

build=$1
stub=$2
qzpack=$3
samples=$4
shots=$5
. "$(dirname "$0")/e2e_common.sh"

e2e_setup session
runs=$QZD_DRIVE_C/qzsession
rm -rf "$runs"

setup=$QZD_TMP/setup.exe
qzd_samples "$samples"
qzd_pack "$qzpack" "$setup" "$stub" "${QZD_SAMPLES[@]}" || { echo "FAIL: qzpack build"; exit 1; }

# prepare DIR: setup.exe beside old files of every name the installer
# writes or deletes; notes the folder's snapshot in $snap_before.
prepare() {
  local dir=$1 target
  fresh_folder "$dir" && cp "$setup" "$dir/"
  for target in "${QZD_TARGETS[@]}"; do
    mkdir -p "$dir/$(dirname "$target")"
    echo "an earlier version of $target" >"$dir/$target"
  done
  echo "a pack an earlier run left" >"$dir/tmp.pak"
  snap_before=$(snapshot "$dir")
  qzd_reg_delete
}

# start_session DIR: starts DIR/setup.exe and waits for its main window.
start_session() {
  qzd_start "$1/setup.exe" "$logs/$scenario.log"
  qzd_find_main || fail "no window titled Zivora Varelle"
}

# expect_untouched DIR: exit code 0, the folder and the registry unchanged.
expect_untouched() {
  local dir=$1 before=$2
  qzd_wait_exit || fail "the installer did not end" || return
  [ "$QZD_STATUS" -eq 0 ] || fail "exit code $QZD_STATUS, want 0"
  [ "$(snapshot "$dir")" = "$snap_before" ] || fail "files were created, deleted or written"
  qzd_reg_key_exists && fail "the registry key was written"
  [ "$failures" -eq "$before" ] && ok "ends with exit code 0, nothing created, deleted or written"
}

# A click on Exit; the window as laid out, and its screenshot.
scenario_exit_button() {
  e2e_begin exit-button
  local before=$failures dir=$runs/exit
  prepare "$dir"
  start_session "$dir" || return
  [ "$QZD_W" -eq 250 ] && [ "$QZD_H" -eq 118 ] || fail "client area ${QZD_W}x${QZD_H}, not 250x118"
  mkdir -p "$shots"
  # The controls paint right after the window maps; give them a moment.
  sleep 0.5
  qzd_screenshot "$QZD_WIN" "$shots/main-window.png" || fail "screenshot"
  echo "screenshot: $shots/main-window.png"
  qzd_exit_main || fail "Exit did not end the installer" || return
  expect_untouched "$dir" "$before"
}

# Alt+F4 reaches the window as the close box does.
scenario_close_box() {
  e2e_begin close-box
  local before=$failures dir=$runs/close
  prepare "$dir"
  start_session "$dir" || return
  xdotool windowfocus --sync "$QZD_WIN"
  xdotool key alt+F4
  expect_untouched "$dir" "$before"
}

# With no control focused, Tab focuses Install and each further Tab moves
# on in the order Install, Exit, Select directory, Install. Two Tabs and
# Space must press Exit; four must wrap round to Install. Together the two
# runs leave no other order: a cycle of three where the second Tab reaches
# Exit and the fourth Install puts Install first and Select directory third.
scenario_tab_to_exit() {
  e2e_begin tab-tab-space-presses-exit
  local before=$failures dir=$runs/tab2
  prepare "$dir"
  start_session "$dir" || return
  xdotool windowfocus --sync "$QZD_WIN"
  xdotool key --delay 100 Tab Tab space
  qzd_poll 10 qzd_ended || fail "two Tabs and Space did not press Exit" || return
  expect_untouched "$dir" "$before"
}

scenario_tab_wraps_to_install() {
  e2e_begin four-tabs-wrap-to-install
  local before=$failures dir=$runs/tab4
  prepare "$dir"
  start_session "$dir" || return
  xdotool windowfocus --sync "$QZD_WIN"
  xdotool key --delay 100 Tab Tab Tab Tab space
  qzd_poll 10 qzd_message_shown || fail "four Tabs and Space did not press Install" || return
  qzd_dismiss_message || fail "the message box did not go away" || return
  qzd_wait_exit || fail "the installer did not end" || return
  [ "$QZD_STATUS" -eq 0 ] || fail "exit code $QZD_STATUS after installing beside the executable"
  cmp -s "$dir/${QZD_TARGETS[3]}" "${QZD_SAMPLES[3]}" || fail "Install did not install"
  [ "$failures" -eq "$before" ] && ok "the fourth Tab is back on Install"
}

scenario_exit_button
scenario_close_box
scenario_tab_to_exit
scenario_tab_wraps_to_install

e2e_end && rm -rf "$runs" && exit 0
echo "folders kept: $runs"
exit 1
