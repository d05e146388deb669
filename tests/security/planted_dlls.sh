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

planted=$4 probe=$5
. "$(dirname "$0")/../app/e2e_common.sh"
e2e_setup planted "$(dirname "$1")" "$2" "$3" "$6"
e2e_pack "${QZD_SAMPLES[@]}"
marker=$runs/planted-dll-loaded.txt
cp "$setup" "$planted"/comctl32.dll "$planted"/uxtheme.dll "$planted"/dwmapi.dll "$probe" "$runs/"

export WINEDLLOVERRIDES="comctl32,uxtheme,dwmapi=n,b;mscoree,mshtml="

# The control: an ordinary import of comctl32 loads the planted one.
e2e_begin control
qzd_wine "$logs/control.log" "$runs/$(basename "$probe")"
grep -qi "comctl32.dll loaded by" "$marker" 2>/dev/null ||
  fail "a program importing comctl32 did not load the planted DLL; this set-up cannot detect planting" || e2e_end
passed "a program importing comctl32 picked up the planted comctl32.dll"
rm -f "$marker"

# Start-up, the main window, Exit.
e2e_begin exit
e2e_start "$runs" || e2e_end
sleep 0.5
qzd_exit_main || fail "Exit did not end the installer" || e2e_end
passed "start-up, main window and Exit ran"

# Install before any directory was chosen; its report is dismissed.
e2e_begin install
e2e_start "$runs" || e2e_end
sleep 0.5
qzd_install || fail "no report after Install" || e2e_end
e2e_dismiss || e2e_end
passed "an install into the installer's own folder ran"

e2e_begin no-planted-dll
[ ! -e "$marker" ] || { cat "$marker"; fail "the installer loaded a planted DLL"; }
passed "no planted DLL was loaded"
e2e_end
