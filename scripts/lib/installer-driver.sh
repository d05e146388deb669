# Drives the real installer under Wine from outside, as a user would: finds
# its window, presses its buttons, walks the folder browser with the keyboard,
# reads and dismisses the message box. Sourced by the end-to-end tests,
# scripts/demo and bench/install_timing.sh; defines functions and variables
# prefixed qzd_ / QZD_ and runs nothing by itself. Safe under `set -e`: a
# function fails only by its result.
#
# Needs an X display ($DISPLAY), xdotool, wine and, for screenshots,
# ImageMagick's import. Facts about Wine it relies on:
# - Without a window manager Wine draws no frame: a top-level window's X
#   window is its client area, so client coordinates are offsets from it.
# - WINEDEBUG=+msgbox makes Wine print every message box's text on stderr.
#   That output goes to a file: Wine's helper processes inherit any pipe and
#   keep it open, so a reader waiting for its end would hang.
# - Every run is started in a process group of its own, so that a run that
#   hangs can be ended whole.

. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# qzd_constant FILE NAME: the strings of the constant NAME in FILE, a source
# file of the installer, one a line and each "\\" made one backslash: the
# installer's own names, read from the one place it takes them from.
qzd_constant() {
  awk -v name="$2" 'index($0, " " name "[") { on = 1 }
    on && /"/ { s = $0; sub(/^[^"]*"/, "", s); sub(/"[^"]*$/, "", s); print s }
    on && /;$/ { exit }' "$(dirname "${BASH_SOURCE[0]}")/../../$1" | sed 's/\\\\/\\/g'
}

# The installer's four targets in pack order, below the chosen directory,
# with the host's separator. The sample payload's files carry their last
# names.
mapfile -t QZD_TARGETS < <(qzd_constant pack/install_layout.h INSTALL_TARGETS | tr '\\' /)

QZD_TITLE=$(qzd_constant app/main_window.cpp MAIN_TITLE)
QZD_BROWSER_TITLE='Browse for Folder'
# Client coordinates of the centres of the main window's buttons.
QZD_INSTALL_XY='70 90'
QZD_EXIT_XY='180 90'
QZD_SELECT_XY='125 60'
# The browser's first tree item, "Desktop", and its OK button measured from
# the dialog's bottom-right corner.
QZD_BROWSER_DESKTOP_XY='65 70'
QZD_BROWSER_OK_FROM_CORNER='151 21'

QZD_PID=
QZD_STATUS=
QZD_LOG=
QZD_WIN=
QZD_X=
QZD_Y=
QZD_MSG_WIN=

# qzd_init BUILD_DIR: use the Wine prefix of that Windows build.
# QZD_SLOW stretches every wait where 32-bit code runs emulated.
qzd_init() {
  QZD_BUILD=$1
  qzd_prefix "${QZ_WINE_ARCH:-win64}"
  QZD_SLOW=$(qz_wine_slow)
  QZD_TMP=$(mktemp -d)
}

# qzd_prefix win32|win64: use the build's prefix of that architecture.
qzd_prefix() {
  QZ_WINE_ARCH=$1 qz_wine_env "$QZD_BUILD"
  QZD_DRIVE_C="$WINEPREFIX/drive_c"
}

# qzd_server_start: a persistent wineserver for the prefix, warmed by one
# program (the first start also makes the prefix); fails when Wine starts
# nothing in time.
qzd_server_start() {
  if [ ! -d "$WINEPREFIX" ]; then
    qzd_wine "$QZD_TMP/boot.log" wineboot -i || return 1
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  # Fails when a server runs already, which serves as well.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  qzd_wine "$QZD_TMP/warm.log" cmd /c exit
}

qzd_server_stop() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
}

# qzd_cleanup: ends a run still going and removes the driver's own files.
qzd_cleanup() {
  qzd_stop
  [ -n "${QZD_TMP:-}" ] && rm -rf "$QZD_TMP"
}

# qzd_now: seconds since the epoch with nanoseconds, for deadlines and timing.
qzd_now() {
  date +%s.%N
}

# qzd_before DEADLINE: true while the clock has not passed DEADLINE.
qzd_before() {
  awk -v now="$(qzd_now)" -v end="$1" 'BEGIN { exit !(now < end) }'
}

# qzd_deadline SECONDS: prints the time SECONDS from now, SECONDS as
# natively run Wine needs them.
qzd_deadline() {
  awk -v now="$(qzd_now)" -v s="$1" -v slow="${QZD_SLOW:-1}" 'BEGIN { printf "%.3f\n", now + s * slow }'
}

# qzd_winpath PATH: the Windows name of a Unix path (C: for the prefix's
# drive_c, Z: for everything else).
qzd_winpath() {
  local p=$1 drive=Z:
  case "$p" in
  "$QZD_DRIVE_C") p=/; drive=C: ;;
  "$QZD_DRIVE_C"/*) p=${p#"$QZD_DRIVE_C"}; drive=C: ;;
  esac
  p=${p//\//\\}
  printf '%s%s\n' "$drive" "$p"
}

# qzd_wine OUT_FILE ARGS...: runs a Windows command to its end, all of its
# output into OUT_FILE; returns its exit code. QZD_WINE_LIMIT bounds its
# time (60 s, stretched under emulation).
qzd_wine() {
  local out=$1
  shift
  setsid timeout "$((${QZD_WINE_LIMIT:-60} * ${QZD_SLOW:-1}))" wine "$@" </dev/null >"$out" 2>&1
}

# qzd_samples DIR: sets QZD_SAMPLES to the sample payload's files in DIR, in
# pack order.
qzd_samples() {
  local target
  QZD_SAMPLES=()
  for target in "${QZD_TARGETS[@]}"; do QZD_SAMPLES+=("$1/${target##*/}"); done
}

# qzd_pack QZPACK SETUP STUB README DLL1 DLL2 CONFIG [OPTION...]: builds an
# installer with qzpack, the native tool or qzpack.exe under Wine; options
# (--no-role-check) are passed on as they are.
qzd_pack() {
  local qzpack=$1 out=$QZD_TMP/qzpack.log
  shift
  case "$qzpack" in
  *.exe)
    local args=(build -o "$(qzd_winpath "$1")" --stub "$(qzd_winpath "$2")") f
    for f in "${@:3}"; do
      case $f in
      --*) args+=("$f") ;;
      *) args+=("$(qzd_winpath "$f")") ;;
      esac
    done
    qzd_wine "$out" "$qzpack" "${args[@]}"
    ;;
  *) "$qzpack" build -o "$1" --stub "$2" "${@:3}" >"$out" 2>&1 ;;
  esac || { cat "$out"; return 1; }
}

# qzd_start EXE LOG: starts EXE under Wine from its own folder, in the
# background and in a process group of its own, with message box texts
# traced into LOG. Sets QZD_PID. QZD_RUN_LIMIT bounds its time (90 s,
# stretched under emulation).
qzd_start() {
  local exe=$1
  QZD_LOG=$2
  QZD_STATUS=
  QZD_WIN=
  QZD_MSG_WIN=
  (cd "$(dirname "$exe")" && WINEDEBUG=-all,+msgbox exec setsid timeout "$((${QZD_RUN_LIMIT:-90} * ${QZD_SLOW:-1}))" wine "$exe") \
    </dev/null >"$QZD_LOG.out" 2>"$QZD_LOG" &
  QZD_PID=$!
}

# qzd_running: true while the started program has not ended.
qzd_running() {
  [ -n "$QZD_PID" ] && kill -0 "$QZD_PID" 2>/dev/null
}

# qzd_stop: ends the started program, whole, if it is still running.
qzd_stop() {
  if [ -n "$QZD_PID" ]; then
    kill -- "-$QZD_PID" 2>/dev/null || true
    wait "$QZD_PID" 2>/dev/null || true
    QZD_PID=
  fi
}

# qzd_wait_exit [SECONDS]: waits for the program to end by itself and sets
# QZD_STATUS to its exit code; fails (and ends it) after SECONDS (20).
qzd_wait_exit() {
  local end
  end=$(qzd_deadline "${1:-20}")
  while qzd_running && qzd_before "$end"; do sleep 0.05; done
  if qzd_running; then
    qzd_stop
    return 1
  fi
  QZD_STATUS=0
  wait "$QZD_PID" || QZD_STATUS=$?
  QZD_PID=
}

# qzd_ended_why: when the started program has ended unasked, prints its exit
# code and the end of what it wrote, so that a test failing because of it
# says more than that a window never came.
qzd_ended_why() {
  [ -n "$QZD_PID" ] && ! qzd_running || return 0
  local status=0
  wait "$QZD_PID" || status=$?
  QZD_PID=
  echo "  the program had ended, exit code $status; the end of its output:"
  tail -n 15 "$QZD_LOG" "$QZD_LOG.out" 2>/dev/null | sed 's/^/    /'
}

# qzd_windows TITLE: the visible X windows titled TITLE (no character of it
# special in a regular expression).
qzd_windows() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
}

# qzd_find_main [SECONDS]: waits for the main window; sets QZD_WIN, QZD_X,
# QZD_Y, QZD_W and QZD_H. Fails when the program ends first or after SECONDS.
qzd_find_main() {
  local end w
  end=$(qzd_deadline "${1:-30}")
  while qzd_before "$end"; do
    w=$(qzd_windows "$QZD_TITLE" | head -n 1) || true
    if [ -n "$w" ]; then
      QZD_WIN=$w
      qzd_geometry "$w" || return 1
      QZD_X=$X QZD_Y=$Y QZD_W=$WIDTH QZD_H=$HEIGHT
      return 0
    fi
    qzd_running || return 1
    sleep 0.1
  done
  return 1
}

# qzd_geometry WINDOW: sets X, Y, WIDTH and HEIGHT of an X window.
qzd_geometry() {
  local shell
  shell=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 1
  eval "$shell"
}

# qzd_click_main CX CY: a left click at client coordinates of the main window.
qzd_click_main() {
  xdotool mousemove "$((QZD_X + $1))" "$((QZD_Y + $2))" click 1
}

# qzd_poll SECONDS COMMAND...: runs COMMAND until it succeeds or SECONDS pass.
qzd_poll() {
  local end
  end=$(qzd_deadline "$1")
  shift
  while qzd_before "$end"; do
    "$@" && return 0
    sleep 0.05
  done
  "$@"
}

# qzd_press CX CY CHECK...: clicks a button of the main window and waits for
# CHECK to hold. A first click on an inactive window can go to activating it,
# so one more click follows when nothing happened.
qzd_press() {
  local cx=$1 cy=$2
  shift 2
  qzd_click_main "$cx" "$cy"
  qzd_poll 2 "$@" && return 0
  qzd_running || return 1
  qzd_click_main "$cx" "$cy"
  qzd_poll 10 "$@"
}

qzd_ended() { ! qzd_running; }

# True when the folder browser is shown; sets QZD_BROWSER.
qzd_browser_shown() {
  QZD_BROWSER=$(qzd_windows "$QZD_BROWSER_TITLE" | head -n 1) || true
  [ -n "$QZD_BROWSER" ]
}

qzd_browser_gone() { ! qzd_browser_shown; }

# True when a message box (a second window with the main title) is shown and
# its text was traced; sets QZD_MSG_WIN.
qzd_message_shown() {
  local w
  QZD_MSG_WIN=
  for w in $(qzd_windows "$QZD_TITLE"); do
    [ "$w" != "$QZD_WIN" ] && QZD_MSG_WIN=$w
  done
  [ -n "$QZD_MSG_WIN" ] && grep -q 'trace:msgbox:MSGBOX_OnInit' "$QZD_LOG"
}

# qzd_exit_main: presses Exit.
qzd_exit_main() {
  qzd_press $QZD_EXIT_XY qzd_ended
}

# qzd_install: presses Install and waits for the message box.
qzd_install() {
  qzd_press $QZD_INSTALL_XY qzd_message_shown
}

# qzd_choose_folder NAME...: presses Select directory and picks the folder
# C:\NAME\... in the browser's tree with the keyboard: Wine's browser returns
# the item selected in the tree and ignores its "Folder:" field. Typing a
# name makes the tree jump to the item that begins with it.
qzd_choose_folder() {
  local name
  qzd_press $QZD_SELECT_XY qzd_browser_shown || return 1
  qzd_geometry "$QZD_BROWSER" || return 1
  local dx dy
  read -r dx dy <<<"$QZD_BROWSER_DESKTOP_XY"
  # The tree fills after the dialog shows, later under emulation: a key
  # sent too early lands on another item.
  local type_ms=$((60 * QZD_SLOW)) key_ms=$((150 * QZD_SLOW))
  sleep "$((QZD_SLOW / 2))"
  xdotool mousemove "$((X + dx))" "$((Y + dy))" click 1
  # "My Computer", open it, its first drive (C:), open that.
  xdotool type --delay "$type_ms" My
  xdotool key --delay "$key_ms" Right Down Right
  for name in "$@"; do
    xdotool type --delay "$type_ms" "$name"
    xdotool key --delay "$key_ms" Right
  done
  # Return confirms the dialog; when it has not gone, click OK itself.
  xdotool key Return
  qzd_poll 3 qzd_browser_gone && return 0
  local ox oy
  read -r ox oy <<<"$QZD_BROWSER_OK_FROM_CORNER"
  qzd_geometry "$QZD_BROWSER" || return 0
  xdotool mousemove "$((X + WIDTH - ox))" "$((Y + HEIGHT - oy))" click 1
  qzd_poll 2 qzd_browser_gone && return 0
  xdotool mousemove "$((X + WIDTH - ox))" "$((Y + HEIGHT - oy))" click 1
  qzd_poll 5 qzd_browser_gone
}

# qzd_dismiss_message: presses OK on the shown message box.
qzd_dismiss_message() {
  local i
  for i in 1 2 3; do
    xdotool windowfocus --sync "$QZD_MSG_WIN" 2>/dev/null || true
    xdotool key Return
    qzd_poll 3 qzd_message_gone && return 0
  done
  return 1
}

qzd_message_gone() {
  ! qzd_windows "$QZD_TITLE" | grep -qx "$QZD_MSG_WIN"
}

# qzd_message_text: the text of the last message box, as Wine traced it
# (line feeds as \n, backslashes doubled).
qzd_message_text() {
  sed -n 's/.*trace:msgbox:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$QZD_LOG" | tail -n 1
}

# qzd_traced TEXT: TEXT in the form Wine traces it, for comparison with
# qzd_message_text.
qzd_traced() {
  local s=${1//\\/\\\\}
  s=${s//$'\n'/\\n}
  printf '%s\n' "$s"
}

# qzd_screenshot WINDOW FILE: saves an X window with a small margin.
qzd_screenshot() {
  qzd_geometry "$1" || return 1
  import -window root -crop "$((WIDTH + 20))x$((HEIGHT + 20))+$((X - 10))+$((Y - 10))" "$2"
}

# The installer's key, without its trailing backslash.
QZD_REG_KEY=HKLM\\$(qzd_constant pack/install_layout.h INSTALL_REGISTRY_KEY)
QZD_REG_KEY=${QZD_REG_KEY%\\}
QZD_REG_VALUE=$(qzd_constant pack/install_layout.h INSTALL_REGISTRY_VALUE)
# The installer is a 32-bit program: it sees, and writes, the registry's
# 32-bit view, which a 64-bit prefix keeps apart (Wow6432Node).
QZD_REG_VIEW=/reg:32

# qzd_reg_delete: removes the installer's registry key, if it is there.
qzd_reg_delete() {
  qzd_wine "$QZD_TMP/reg.log" reg delete "$QZD_REG_KEY" /f $QZD_REG_VIEW || true
}

# qzd_reg_value: prints the recorded value; fails when the key or the value
# is missing.
qzd_reg_value() {
  qzd_wine "$QZD_TMP/reg.log" reg query "$QZD_REG_KEY" /v "$QZD_REG_VALUE" $QZD_REG_VIEW || return 1
  tr -d '\r' <"$QZD_TMP/reg.log" | sed -n "s/^ *$QZD_REG_VALUE *REG_SZ    //p"
}

# qzd_reg_key_exists: true when the installer's key is in the registry.
qzd_reg_key_exists() {
  qzd_wine "$QZD_TMP/reg.log" reg query "$QZD_REG_KEY" $QZD_REG_VIEW
}
