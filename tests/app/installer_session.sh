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

. "$(dirname "$0")/e2e_common.sh"
e2e_setup session "$@"
shots=$5
e2e_pack "${QZD_SAMPLES[@]}"

# start_session NAME: starts scenario NAME: setup.exe in a fresh folder $dir
# beside old files of every name the installer writes or deletes (the
# folder's snapshot in $snap_before), no registry key, its main window found.
start_session() {
  local target
  e2e_begin "$1"
  dir=$runs/$1
  fresh_folder "$dir" && cp "$setup" "$dir/"
  for target in "${QZD_TARGETS[@]}"; do
    mkdir -p "$dir/$(dirname "$target")"
    echo "an earlier version of $target" >"$dir/$target"
  done
  echo "a pack an earlier run left" >"$dir/tmp.pak"
  snap_before=$(snapshot "$dir")
  qzd_reg_delete
  e2e_start "$dir"
}

# keys KEY...: types the KEYs into the main window.
keys() {
  xdotool windowfocus --sync "$QZD_WIN"
  xdotool key --delay 100 "$@"
}

# expect_untouched: exit code 0, the folder and the registry unchanged.
expect_untouched() {
  qzd_wait_exit || fail "the installer did not end" || return
  expect_status 0
  [ "$(snapshot "$dir")" = "$snap_before" ] || fail "files were created, deleted or written"
  qzd_reg_key_exists && fail "the registry key was written"
  passed "ends with exit code 0, nothing created, deleted or written"
}

# A click on Exit; the window as laid out, and its screenshot.
scenario_exit_button() {
  start_session exit-button || return
  [ "$QZD_W" -eq 250 ] && [ "$QZD_H" -eq 118 ] || fail "client area ${QZD_W}x${QZD_H}, not 250x118"
  mkdir -p "$shots"
  # The controls paint right after the window maps; give them a moment.
  sleep 0.5
  qzd_screenshot "$QZD_WIN" "$shots/main-window.png" || fail "screenshot"
  echo "screenshot: $shots/main-window.png"
  qzd_exit_main || fail "Exit did not end the installer" || return
  expect_untouched
}

# Alt+F4 reaches the window as the close box does.
scenario_close_box() {
  start_session close-box || return
  keys alt+F4
  expect_untouched
}

# With no control focused, Tab focuses Install and each further Tab moves
# on in the order Install, Exit, Select directory, Install. Two Tabs and
# Space must press Exit; four must wrap round to Install. Together the two
# runs leave no other order: a cycle of three where the second Tab reaches
# Exit and the fourth Install puts Install first and Select directory third.
scenario_tab_to_exit() {
  start_session tab-tab-space-presses-exit || return
  keys Tab Tab space
  qzd_poll 10 qzd_ended || fail "two Tabs and Space did not press Exit" || return
  expect_untouched
}

scenario_tab_wraps_to_install() {
  start_session four-tabs-wrap-to-install || return
  keys Tab Tab Tab Tab space
  qzd_poll 10 qzd_message_shown || fail "four Tabs and Space did not press Install" || return
  e2e_dismiss || return
  expect_status 0
  cmp -s "$dir/${QZD_TARGETS[3]}" "${QZD_SAMPLES[3]}" || fail "Install did not install"
  passed "the fourth Tab is back on Install"
}

scenario_exit_button
scenario_close_box
scenario_tab_to_exit
scenario_tab_wraps_to_install
e2e_end
