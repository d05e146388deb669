#!/usr/bin/env bash
# The real installer, built with qzpack from a payload of the test's own,
# installing under Wine, driven from outside with xdotool as a user would.
# Each scenario starts setup.exe from a fresh folder on the prefix's C: drive,
# presses Install, reads the message box's text from Wine's trace, dismisses
# it, and checks the exit code, the files and the registry from outside.
#
# Usage: installer_install_e2e.sh BUILD_DIR INSTALLER_EXE QZPACK SAMPLES_DIR FILE_HOLDER_EXE
# Needs an X display (DISPLAY), as the Windows suite has inside xvfb-run.
set -uo pipefail

. "$(dirname "$0")/e2e_common.sh"
e2e_setup install "$@"
holder=$5

# The browser's target sits directly under C: so that the keyboard walk
# through the tree stays short.
target_name=qze2eh
target=$QZD_DRIVE_C/$target_name
rm -rf "$target"

# The payload: a generated readme, two real DLLs and a real program, none of
# them the demo's pack as it is.
make_readme "$QZD_TMP/readme.txt"
input=("$QZD_TMP/readme.txt" "${QZD_SAMPLES[1]}" "${QZD_SAMPLES[2]}" "$holder")
targets=("${QZD_TARGETS[@]}")
e2e_pack "${input[@]}"

completion=$'Plugin intalled\nVisit my web for more games:\nhttps://zivora-varelle.example.org/\nAnd read \''"${targets[0]}"$'\' on WinAmp directory'
partly=$'Plugin partly installed\nThese files could not be written:'
damaged_installer=$'Plugin not installed\nThe installer file is damaged or incomplete.'

# begin NAME [SUBFOLDER]: starts scenario NAME in a fresh folder $dir of its
# own that holds setup.exe (and an empty SUBFOLDER).
begin() {
  e2e_begin "$1"
  dir=$runs/$1
  fresh_folder "$dir/${2:-}" && cp "$setup" "$dir/"
}

# fresh_target: the browser's target holds just an empty plugins folder, and
# the registry has no key of the installer.
fresh_target() {
  rm -rf "$target" && fresh_folder "$target/plugins"
  qzd_reg_delete
}

# run_install DIR [FOLDER [NAME]]: starts DIR/setup.exe (or DIR/NAME),
# chooses C:\FOLDER in the browser when given (otherwise installs beside the
# executable), presses Install, keeps the message text in $message,
# dismisses the box and waits for the exit code in $QZD_STATUS.
run_install() {
  local dir=$1 folder=${2:-}
  message=
  e2e_start "$dir" "${3:-}" || return
  if [ -n "$folder" ]; then
    qzd_choose_folder "$folder" || fail "the folder browser did not open or close" || return
  fi
  qzd_install || fail "no message box after Install" || return
  message=$(qzd_message_text)
  e2e_dismiss
}

expect_message() {
  local want
  want=$(qzd_traced "$1")
  [ "$message" = "$want" ] || fail "message box text"$'\n'"  got:  $message"$'\n'"  want: $want"
}

# expect_written DIR INDEX...: those targets below DIR hold their input.
expect_written() {
  local dir=$1 i
  shift
  for i in "$@"; do
    cmp -s "$dir/${targets[$i]}" "${input[$i]}" || fail "${targets[$i]} is not byte-identical to its input"
  done
}

# A link planted under the name is a pack file left behind too.
expect_no_pack_file() {
  [ ! -e "$1/tmp.pak" ] && [ ! -L "$1/tmp.pak" ] || fail "tmp.pak left beside the executable"
}

# expect_entries DIR ENTRY...: DIR holds these entries and nothing else (no
# temporary file beside a target, no partial file).
expect_entries() {
  local dir=$1 want
  shift
  want=$(printf './%s\n' "$@" | sort)
  [ "$(entries "$dir")" = "$want" ] || fail "entries of $dir:"$'\n'"$(entries "$dir")"$'\n'"want:"$'\n'"$want"
}

# The installed entries below a chosen directory with a plugins folder.
installed=(plugins plugins/zivora "${targets[@]}")

# expect_installed DIR: a complete install from DIR/setup.exe into the
# browser's target: the completion message, exit code 0, the four files and
# the plugin folder and nothing else, the registry value naming the target
# with its trailing backslash, and no tmp.pak left in DIR.
expect_installed() {
  local value
  expect_message "$completion"
  expect_status 0
  expect_written "$target" 0 1 2 3
  expect_entries "$target" "${installed[@]}"
  expect_no_pack_file "$1"
  value=$(qzd_reg_value) || fail "no $QZD_REG_VALUE value in the registry" || return
  [ "$value" = "C:\\$target_name\\" ] || fail "$QZD_REG_VALUE is '$value', want 'C:\\$target_name\\'"
}

win() {
  qzd_winpath "$1"
}

# A user's install through the real folder browser.
scenario_happy_path() {
  begin "${1:-happy-path}"
  fresh_target
  run_install "$dir" "$target_name" || return
  expect_installed "$dir"
  passed "four files, plugin folder, registry value, completion message, exit 0"
}

# The happy path once more in a 32-bit prefix, the platform the installer
# was written for, with a wineserver of its own; then back to the suite's.
# Not where 32-bit code runs emulated: there Wine's own services of such a
# prefix run emulated too, and the emulator crashes processes with several
# threads, so the folder browser now and then lists no drive.
scenario_happy_path_win32() {
  if qz_wine_emulated; then
    e2e_begin happy-path-win32
    skip "32-bit code runs emulated here: a 32-bit prefix does not start reliably"
    return 0
  fi
  local suite_runs=$runs suite_target=$target
  qzd_prefix win32
  runs=$QZD_DRIVE_C/${runs##*/} target=$QZD_DRIVE_C/$target_name
  if qzd_server_start; then
    scenario_happy_path happy-path-win32
  else
    e2e_begin happy-path-win32
    fail "no program started in the 32-bit prefix"
  fi
  rm -rf "$runs" "$target"
  qzd_server_stop
  qzd_prefix win64
  runs=$suite_runs target=$suite_target
}

# The same install from a signed setup.exe: the installer finds its pack in
# front of the certificate table that the signer appended.
scenario_signed() {
  begin signed
  fresh_target
  rm "$dir/setup.exe" && sign_setup "$setup" "$dir/setup.exe" "$QZD_TMP" || fail "osslsigncode sign" || return
  signature_valid "$dir/setup.exe" "$QZD_TMP" || fail "osslsigncode verify rejects it" || return
  run_install "$dir" "$target_name" || return
  expect_installed "$dir"
  passed "four files, registry value, completion message, exit 0"
}

# Without a "plugins" folder the two plugin files cannot be created: the
# others are still written, and the report says which two and why.
scenario_no_plugins_folder() {
  begin no-plugins-folder
  run_install "$dir" || return
  expect_message "$partly"$'\n'"$(win "$dir/${targets[1]}") (could not be created)"$'\n'"$(win "$dir/${targets[2]}") (could not be created)"
  expect_status 1
  expect_written "$dir" 0 3
  [ ! -e "$dir/plugins" ] || fail "a plugins folder appeared"
  expect_no_pack_file "$dir"
  passed "entries 0 and 3 written, 1 and 2 reported, partly installed, exit 1"
}

# A target that another program holds open without sharing is reported; the
# installer goes on with the others and leaves the held file alone.
scenario_target_held_open() {
  begin target-held-open plugins
  local held=$dir/${targets[2]} ready=$dir/held.ready
  echo "bytes of an earlier version" >"$held"
  cp "$held" "$QZD_TMP/held.before"
  (exec setsid timeout $((60 * QZD_SLOW)) wine "$holder" "$(win "$held")" "$(win "$ready")") </dev/null \
    >"$logs/$scenario.holder.log" 2>&1 &
  local holder_pid=$!
  qzd_poll 30 test -e "$ready" || { kill -- "-$holder_pid" 2>/dev/null; fail "the helper did not open the file"; return; }
  run_install "$dir"
  rm -f "$ready"
  wait "$holder_pid" || fail "the helper holding the file failed"
  [ -n "$message" ] || return
  expect_message "$partly"$'\n'"$(win "$held") (in use: close Winamp and run the installer again)"
  expect_status 1
  expect_written "$dir" 0 1 3
  cmp -s "$held" "$QZD_TMP/held.before" || fail "the held file changed"
  expect_entries "$dir" setup.exe "${installed[@]}"
  passed "held target named as in use and kept, the other three written, nothing left over, exit 1"
}

# damage_flipped SETUP: one byte flipped inside entry 2's compressed block.
damage_flipped() {
  local data unpacked stored
  read -r data unpacked stored < <(pack_entry "$1" 2) || fail "setup.exe has no entry 2" || return
  # Only a block (stored size differs) with a checksum can be caught for sure.
  [ "$stored" -ne "$unpacked" ] || fail "entry 2 is stored, not compressed" || return
  [ "$(u32 "$1" $((data + 6)))" -ne 0 ] || fail "entry 2's block has no checksum" || return
  flip_byte "$1" $((data + stored / 2))
}

# damage_empty SETUP: entry 2 empty, as a block with a checksum, which no
# bytes have. qzpack stores an empty entry: the block is spliced in.
damage_empty() {
  local data unpacked stored size
  : >"$QZD_TMP/empty.dll"
  # An empty file is no DLL: qzpack is told to build all the same.
  qzd_pack "$qzpack" "$QZD_TMP/empty.exe" "$stub" "${input[0]}" "${input[1]}" "$QZD_TMP/empty.dll" "${input[3]}" \
    --no-role-check ||
    fail "qzpack build" || return
  size=$(stat -c %s "$QZD_TMP/empty.exe")
  read -r data unpacked stored < <(pack_entry "$QZD_TMP/empty.exe" 2) || fail "no entry 2" || return
  # "QZ", no bytes, checksum 0x1234, the end code.
  { head -c "$data" "$QZD_TMP/empty.exe"; printf 'QZ\0\0\0\0\x34\x12\0\0\0\0\0\0'
    tail -c +$((data + 1)) "$QZD_TMP/empty.exe"; } >"$1"
  put_u32 "$1" $((data - 4)) 14
  put_u32 "$1" $((size + 14 - 4)) $(($(u32 "$QZD_TMP/empty.exe" $((size - 4))) + 14))
}

# damage_one_entry_short SETUP: the trailer short by exactly the first
# entry, so that the pack seems to start at entry 1 and to hold three sound
# entries.
damage_one_entry_short() {
  local size data unpacked stored
  size=$(stat -c %s "$1")
  read -r data unpacked stored < <(pack_entry "$1" 0) || fail "setup.exe has no entry 0" || return
  put_u32 "$1" $((size - 4)) $(($(u32 "$1" $((size - 4))) - 8 - stored))
}

# damage_past_end SETUP: the last entry's stored size one byte past the pack.
damage_past_end() {
  local data unpacked stored
  read -r data unpacked stored < <(pack_entry "$1" 3) || fail "setup.exe has no entry 3" || return
  put_u32 "$1" $((data - 4)) $((stored + 1))
}

# damage_truncated SETUP: cut inside the pack, where the last four bytes no
# longer make a length that fits; the cut moves until they do not.
damage_truncated() {
  local size length cut v
  size=$(stat -c %s "$1")
  length=$(u32 "$1" $((size - 4)))
  cut=$((size - 4 - length / 2))
  while v=$(u32 "$1" $((cut - 4))) && [ "$v" -ge 1 ] && [ "$v" -le $((cut - 4)) ]; do
    cut=$((cut + 1))
  done
  truncate -s "$cut" "$1"
}

# damage_trailer_too_large SETUP: a trailer longer than the file, and beside
# it what an earlier run might have left: a sound pack of the same payload.
damage_trailer_too_large() {
  local size length
  size=$(stat -c %s "$1")
  length=$(u32 "$1" $((size - 4)))
  tail -c $((length + 4)) "$1" | head -c "$length" >"$(dirname "$1")/tmp.pak"
  put_u32 "$1" $((size - 4)) "$size"
}

# A damaged installer (KIND, made by damage_KIND; then the report's line
# naming the entry at fault, if any) installs nothing: older versions of
# the targets keep their bytes, no folder is made, no registry value is
# written and no tmp.pak is left; the report says the installer is damaged.
scenario_damaged_installer() {
  local kind=$1 line=${2:-} nl=$'\n' old
  begin "damaged-installer-$kind" plugins
  "damage_${kind//-/_}" "$dir/setup.exe" || return
  for old in 0 2 3; do
    echo "bytes of an earlier version of ${targets[$old]}" >"$dir/${targets[$old]}"
  done
  local snap_before
  snap_before=$(snapshot "$dir")
  qzd_reg_delete
  run_install "$dir" || return
  expect_message "$damaged_installer${line:+$nl$line}"
  expect_status 1
  [ "$(snapshot "$dir")" = "$snap_before" ] || fail "files or folders were created, deleted or written"
  qzd_reg_key_exists && fail "the registry key was written"
  passed "nothing written, not installed, damaged-installer message, exit 1"
}

# A sound installer whose name the system cannot give in its code page
# cannot open its own file: it says so and why, and is not called damaged.
scenario_name_not_in_code_page() {
  local name=$'\xe5\xae\x89\xe8\xa3\x85 setup.exe'
  begin name-not-in-code-page
  mv "$dir/setup.exe" "$dir/$name"
  local snap_before
  snap_before=$(snapshot "$dir")
  run_install "$dir" "" "$name" || return
  expect_message $'Plugin not installed\nThe installer cannot open its own file: its path has characters that this system\'s code page lacks.\nMove or rename it and run it again.'
  expect_status 1
  [ "$(snapshot "$dir")" = "$snap_before" ] || fail "files or folders were created, deleted or written"
  passed "cannot open its own file, the reason and the advice, nothing written, exit 1"
}

# A setup.exe whose full path is 257 characters long, within what the
# system's ANSI calls take, installs as from anywhere else.
scenario_long_path() {
  begin long-path
  local deep=$dir rest n win
  win=$(win "$dir")
  # What the folders below $dir take, each with its backslash, besides the
  # 10 characters of "\setup.exe".
  rest=$((257 - ${#win} - 10))
  while [ "$rest" -gt 0 ]; do
    n=$((rest > 101 ? 90 : rest - 1))
    deep=$deep/$(head -c "$n" /dev/zero | tr '\0' d)
    rest=$((rest - n - 1))
  done
  mkdir -p "$deep" && mv "$dir/setup.exe" "$deep/"
  [ "$(win "$deep/setup.exe" | tr -d '\n' | wc -c)" -eq 257 ] || fail "the path is not 257 characters long" || return
  fresh_target
  run_install "$deep" "$target_name" || return
  expect_installed "$deep"
  passed "installed from a path of 257 characters, exit 0"
}

# A "tmp.pak" planted beside setup.exe as a hard or a symbolic link to a file
# in another folder: that file keeps its bytes, the install completes and
# nothing is left under the name.
scenario_planted_pack_link() {
  local kind=$1 elsewhere=$runs/elsewhere-$1
  begin "planted-pack-$kind-link" plugins
  fresh_folder "$elsewhere"
  local victim=$elsewhere/victim.dat
  echo "a file of the user's that the installer must not touch" >"$victim"
  cp "$victim" "$QZD_TMP/victim.before"
  case "$kind" in
  hard) ln "$victim" "$dir/tmp.pak" ;;
  symbolic) ln -s "$victim" "$dir/tmp.pak" ;;
  esac
  run_install "$dir" || return
  expect_message "$completion"
  expect_status 0
  cmp -s "$victim" "$QZD_TMP/victim.before" || fail "the linked file was written through the planted link"
  expect_written "$dir" 0 1 2 3
  expect_entries "$dir" setup.exe "${installed[@]}"
  passed "linked file untouched, four files, no tmp.pak left, exit 0"
}

# setup.exe on read-only media (a tmpfs remounted read-only): tmp.pak goes to
# the temporary folder, the install completes, and tmp.pak goes again.
scenario_read_only_media() {
  e2e_begin read-only-media
  local media=$runs/media temp=$QZD_DRIVE_C/users
  fresh_folder "$media"
  mount_tmpfs "$media" 1m || { skip "mounting a tmpfs is not allowed here (it needs root)"; return 0; }
  cp "$setup" "$media/" && mount -o remount,ro "$media" || { fail "remounting read-only"; unmount "$media"; return; }
  fresh_target
  find "$temp" -name tmp.pak -delete
  run_install "$media" "$target_name"
  if [ -n "$message" ]; then
    expect_installed "$media"
    [ -z "$(find "$temp" -name tmp.pak)" ] || fail "tmp.pak left in the temporary folder"
  fi
  unmount "$media"
  passed "installed from read-only media, exit 0, no tmp.pak left"
}

# The plugins folder on a volume too small for the new plugin (a tmpfs that
# holds the other DLL but not this one), an older plugin on it: the older
# file is kept byte for byte, named in the report, nothing partial is left.
scenario_full_volume() {
  begin full-volume plugins
  local room=$(($(stat -c %s "${input[1]}") + $(stat -c %s "${input[2]}") / 2))
  mount_tmpfs "$dir/plugins" "$room" || { skip "mounting a tmpfs is not allowed here (it needs root)"; return 0; }
  local old=$dir/${targets[2]}
  head -c 20000 "${input[3]}" >"$old"
  cp "$old" "$QZD_TMP/full.before"
  run_install "$dir"
  if [ -n "$message" ]; then
    expect_message "$partly"$'\n'"$(win "$old") (could not be written in full)"
    expect_status 1
    cmp -s "$old" "$QZD_TMP/full.before" || fail "the older plugin changed"
    expect_written "$dir" 0 1 3
    expect_entries "$dir" setup.exe "${installed[@]}"
  fi
  unmount "$dir/plugins"
  passed "older plugin kept and named, the other three written, nothing partial, exit 1"
}

start=$(qzd_now)
scenario_happy_path
scenario_happy_path_win32
scenario_signed
scenario_no_plugins_folder
scenario_target_held_open
scenario_damaged_installer flipped 'Its entry for plugins\zivoravarelle.dll is damaged.'
scenario_damaged_installer empty 'Its entry for plugins\zivoravarelle.dll is damaged.'
scenario_damaged_installer one-entry-short 'Its entry for zivora_config.exe is missing.'
scenario_damaged_installer past-end 'Its entry for zivora_config.exe is damaged.'
scenario_damaged_installer truncated
scenario_damaged_installer trailer-too-large
scenario_name_not_in_code_page
scenario_long_path
scenario_planted_pack_link hard
scenario_planted_pack_link symbolic
scenario_read_only_media
scenario_full_volume
echo "took $(awk -v a="$start" -v b="$(qzd_now)" 'BEGIN { printf "%.1f", b - a }') s"
e2e_end "$target"
