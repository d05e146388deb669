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

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/installer-driver.sh"
qzd_init "$(dirname "$wine_run")"
folder="$QZD_DRIVE_C/qz-planted"
marker="$folder/planted-dll-loaded.txt"

fail() {
  echo "FAIL: $*"
  qzd_ended_why
  qzd_cleanup
  exit 1
}

[ -n "${DISPLAY:-}" ] || fail "no X display"

rm -rf "$folder"
mkdir -p "$folder"
qzd_samples "$samples"
qzd_pack "$qzpack" "$folder/setup.exe" "$installer" "${QZD_SAMPLES[@]}" || fail "qzpack build"
cp "$planted"/comctl32.dll "$planted"/uxtheme.dll "$planted"/dwmapi.dll "$probe" "$folder/"

export WINEDLLOVERRIDES="comctl32,uxtheme,dwmapi=n,b;mscoree,mshtml="

# The control: an ordinary import of comctl32 loads the planted one.
qzd_wine "$QZD_TMP/probe.log" "$folder/$(basename "$probe")"
grep -qi "comctl32.dll loaded by" "$marker" 2>/dev/null ||
  fail "control: a program importing comctl32 did not load the planted DLL; this set-up cannot detect planting"
echo "ok: control program picked up the planted comctl32.dll"
rm -f "$marker"

# Run 1: start-up, the main window, Exit.
qzd_start "$folder/setup.exe" "$QZD_TMP/exit.log"
qzd_find_main || fail "no main window"
sleep 0.5
qzd_exit_main || fail "Exit did not end the installer"
echo "ok: start-up, main window and Exit ran"

# Run 2: Install before any directory was chosen; its report is dismissed.
qzd_start "$folder/setup.exe" "$QZD_TMP/install.log"
qzd_find_main || fail "no main window (second run)"
sleep 0.5
qzd_install || fail "no report after Install"
qzd_dismiss_message || fail "the report did not go away"
qzd_wait_exit || fail "the installer did not end after Install"
echo "ok: an install into the installer's own folder ran"

if [ -e "$marker" ]; then
  cat "$marker"
  fail "the installer loaded a planted DLL"
fi
echo "ok: no planted DLL was loaded"
rm -rf "$folder"
qzd_cleanup
