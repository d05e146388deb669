#!/usr/bin/env bash
# Size and speed of the installer on the demo's sample payload, in one run:
#  (a) setup.exe's size beside the sum of the four files it carries;
#  (b) the wall time from pressing Install to the message box, under Wine,
#      beside the time Wine takes to start and end a program that does
#      nothing (cmd /c exit) with the same warm wineserver, and with none.
# Prints figures only; it is a measurement, not a test. Needs both builds
# (scripts/test or scripts/demo makes them) and runs on its own virtual
# display, so do not run it while the Windows suite uses the same prefix.
#
# Usage: bench/install_timing.sh [REPETITIONS]   (default 7; medians reported)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
reps=${1:-7}

build=$root/build/windows
samples=$build/samples
qzpack=$root/build/native/packer/qzpack
. "$root/scripts/lib/installer-driver.sh"
qzd_samples "$samples"
inputs=("${QZD_SAMPLES[@]}")

for f in "$qzpack" "$build/app/installer.exe" "${inputs[@]}"; do
  [ -e "$f" ] || { echo "install_timing: $f is missing: build both presets first" >&2; exit 1; }
done

# Xdotool's coordinates assume no window manager: always a display of our own.
if [ "${QZ_TIMING_STAGE:-}" != run ]; then
  QZ_TIMING_STAGE=run exec xvfb-run -a -s "-screen 0 1024x768x24" "$root/bench/install_timing.sh" "$reps"
fi

qzd_init "$build"
trap 'qzd_cleanup; rm -rf "$QZD_DRIVE_C/qzbench"; wineserver -k >/dev/null 2>&1 </dev/null' EXIT

setup=$QZD_TMP/setup.exe
qzd_pack "$qzpack" "$setup" "$build/app/installer.exe" "${inputs[@]}" || exit 1

# The middle value of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "== size (sample payload, qzpack's default level)"
sum=0
for f in "${inputs[@]}"; do
  size=$(stat -c %s "$f")
  sum=$((sum + size))
  printf '  %-28s %8d bytes\n' "$(basename "$f")" "$size"
done
total=$(stat -c %s "$setup")
stub=$(stat -c %s "$build/app/installer.exe")
printf '  %-28s %8d bytes\n' "sum of the four inputs" "$sum"
printf '  %-28s %8d bytes (installer %d + padding, pack and trailer %d), %.1f%% of the inputs\n' \
  "setup.exe" "$total" "$stub" $((total - stub)) "$(awk -v a="$total" -v b="$sum" 'BEGIN { print 100 * a / b }')"

# Seconds, with three decimals, between two readings of ${EPOCHREALTIME/./}.
seconds() {
  printf '%d.%03d' $((($2 - $1) / 1000000)) $((($2 - $1) % 1000000 / 1000))
}

echo "== time under Wine ($reps repetitions)"
# For scale: an empty program when no wineserver runs yet, as a user's
# first start of anything under Wine.
cold=()
for ((i = 1; i <= reps; i++)); do
  wineserver -k >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
  t0=${EPOCHREALTIME/./}
  qzd_wine "$QZD_TMP/noop.log" cmd /c exit || { echo "install_timing: wine cmd /c exit failed"; exit 1; }
  t1=${EPOCHREALTIME/./}
  cold+=("$(seconds "$t0" "$t1")")
done

# Everything else with one warm wineserver.
wineserver -p >/dev/null 2>&1 </dev/null
qzd_wine "$QZD_TMP/warm.log" cmd /c exit

noop=()
install=()
for ((i = 1; i <= reps; i++)); do
  t0=${EPOCHREALTIME/./}
  qzd_wine "$QZD_TMP/noop.log" cmd /c exit || { echo "install_timing: wine cmd /c exit failed"; exit 1; }
  t1=${EPOCHREALTIME/./}
  noop+=("$(seconds "$t0" "$t1")")

  # Install beside the executable (no directory chosen), into a fresh
  # folder with a plugins folder, so that every file is written.
  dir=$QZD_DRIVE_C/qzbench/$i
  rm -rf "$dir" && mkdir -p "$dir/plugins" && cp "$setup" "$dir/"
  qzd_start "$dir/setup.exe" "$QZD_TMP/run$i.log"
  qzd_find_main || { echo "install_timing: no main window"; exit 1; }
  # Wine traces the message box from its dialog's initialisation, just
  # before it shows: the end of the install, as closely as it can be seen.
  # A button acts when the mouse button is released, and xdotool's click
  # takes about 0.1 s between press and release: the clock starts at the
  # release, which then costs only xdotool's own start (about 0.02 s).
  read -r cx cy <<<"$QZD_INSTALL_XY"
  xdotool mousemove "$((QZD_X + cx))" "$((QZD_Y + cy))" mousedown 1
  t0=${EPOCHREALTIME/./}
  xdotool mouseup 1
  until grep -q 'trace:msgbox:MSGBOX_OnInit' "$QZD_LOG"; do
    [ $((${EPOCHREALTIME/./} - t0)) -lt 10000000 ] ||
      { echo "install_timing: no message box 10 s after Install (a click that only activated the window?)"; exit 1; }
  done
  t1=${EPOCHREALTIME/./}
  install+=("$(seconds "$t0" "$t1")")
  qzd_poll 5 qzd_message_shown && qzd_dismiss_message
  qzd_wait_exit && [ "$QZD_STATUS" -eq 0 ] || { echo "install_timing: the install failed (status ${QZD_STATUS:-none})"; exit 1; }
  cmp -s "$dir/${QZD_TARGETS[2]}" "${inputs[2]}" || { echo "install_timing: files not installed"; exit 1; }
done

echo "  Install pressed -> message box:          ${install[*]} s"
echo "  wine cmd /c exit, warm wineserver:        ${noop[*]} s"
echo "  wine cmd /c exit, no wineserver running:  ${cold[*]} s"
printf '  medians: install %.3f s; empty program start and end %.3f s warm, %.3f s cold\n' \
  "$(median "${install[@]}")" "$(median "${noop[@]}")" "$(median "${cold[@]}")"
