# Shared by the end-to-end scripts of this folder and tests/security: the
# driver, scenarios and their failures, the test payload and checks of
# folders and files.

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/installer-driver.sh"

failures=0
scenario=
scenario_failures=0
logs=
mounts=()

# e2e_setup NAME BUILD_DIR INSTALLER_EXE QZPACK SAMPLES_DIR: takes the
# arguments every Wine script here starts with ($build, $stub, $qzpack,
# $samples; the sample files in $QZD_SAMPLES), checks for a display and
# xdotool, takes the build's Wine prefix, and gives the script fresh folders:
# $logs for its logs and $runs on the prefix's C: drive for its runs.
# Installers are packed into $setup.
e2e_setup() {
  build=$2 stub=$3 qzpack=$4 samples=$5
  [ -n "${DISPLAY:-}" ] || { echo "FAIL: no X display"; exit 1; }
  command -v xdotool >/dev/null || { echo "FAIL: xdotool missing"; exit 1; }
  qzd_init "$build"
  trap 'unmount_all; qzd_cleanup' EXIT
  logs=$build/e2e-logs/$1
  runs=$QZD_DRIVE_C/qz$1
  fresh_folder "$logs" && fresh_folder "$runs"
  qzd_samples "$samples"
  setup=$QZD_TMP/setup.exe
}

# e2e_pack FILE...: packs the FILEs into $setup, or ends the script.
e2e_pack() {
  qzd_pack "$qzpack" "$setup" "$stub" "$@" || { echo "FAIL: qzpack build"; exit 1; }
}

# e2e_begin NAME: starts a scenario; its failures are counted under NAME.
e2e_begin() {
  scenario=$1
  scenario_failures=$failures
  echo "-- $scenario"
}

# fail MESSAGE: records a failure of the current scenario and ends a run
# still going; returns 1 so that a scenario can stop with `|| return`.
fail() {
  echo "FAIL: $scenario: $*"
  failures=$((failures + 1))
  qzd_ended_why
  qzd_stop
  return 1
}

# passed MESSAGE: reports the scenario as passed when it recorded no
# failure; fails otherwise.
passed() {
  [ "$failures" -eq "$scenario_failures" ] && echo "ok: $scenario: $*"
}

skip() {
  echo "skip: $scenario: $*"
}

# e2e_start DIR [NAME]: starts DIR/setup.exe (or DIR/NAME), its log named
# after the scenario, and waits for its main window.
e2e_start() {
  qzd_start "$1/${2:-setup.exe}" "$logs/$scenario.log"
  qzd_find_main || fail "no window titled $QZD_TITLE"
}

# e2e_dismiss: presses OK on the message box and waits for the installer's
# exit code in $QZD_STATUS.
e2e_dismiss() {
  qzd_dismiss_message || fail "the message box did not go away" || return
  qzd_wait_exit || fail "the installer did not end after its message"
}

expect_status() {
  [ "$QZD_STATUS" = "$1" ] || fail "exit code $QZD_STATUS, want $1"
}

# mount_tmpfs DIR SIZE: mounts a tmpfs of SIZE (as mount takes it: 128k)
# on DIR, to be unmounted by unmount DIR, or at the script's end whatever
# happens. Fails where mounting is not allowed (not root, no namespace).
mount_tmpfs() {
  mount -t tmpfs -o "size=$2" tmpfs "$1" 2>/dev/null || return 1
  mounts+=("$1")
}

# unmount DIR: unmounts a tmpfs of mount_tmpfs; lazily when a process that
# has just ended still holds it.
unmount() {
  umount "$1" 2>/dev/null || umount -l "$1" 2>/dev/null || true
}

unmount_all() {
  local dir
  for dir in "${mounts[@]}"; do
    mountpoint -q "$dir" && unmount "$dir"
  done
  mounts=()
}

# e2e_end [FOLDER...]: ends the script; clears $runs and the FOLDERs when
# every scenario passed, keeps them for a look otherwise.
e2e_end() {
  if [ "$failures" -eq 0 ]; then
    echo "all scenarios passed"
    rm -rf "$runs" "$@"
    exit 0
  fi
  echo "$failures check(s) failed; logs in $logs; folders kept: $runs $*"
  exit 1
}

# fresh_folder PATH: an empty folder, whatever an earlier run left there.
fresh_folder() {
  rm -rf "$1" && mkdir -p "$1"
}

# entries DIR: every entry below DIR, one a line, sorted.
entries() {
  (cd "$1" && find . -mindepth 1 | sort)
}

# snapshot DIR: every entry below DIR with its kind, size and checksum, so
# that two snapshots differ when anything was created, deleted or written.
snapshot() {
  (cd "$1" && find . -mindepth 1 -printf '%p %y %s\n' | sort &&
    find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
}

# make_readme FILE: a readme text the project never shipped.
make_readme() {
  local i
  {
    echo "End-to-end payload: a readme text made by the test itself."
    for i in $(seq 1 60); do
      printf 'line %03d, Windows line ends, a number that varies: %d\r\n' "$i" $((i * i * 7919 % 10007))
    done
  } >"$1"
}

# u32 FILE OFFSET: the 32-bit little-endian number at OFFSET.
u32() {
  od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}

# put_u32 FILE OFFSET VALUE: overwrites four bytes in place.
put_u32() {
  local v=$3
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# flip_byte FILE OFFSET: inverts every bit of one byte in place.
flip_byte() {
  local v
  v=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((v ^ 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# pack_entry SETUP INDEX: prints "DATA_OFFSET UNPACKED STORED" of one entry,
# walking the pack from the trailer: the pack is the L bytes before the last
# four, each entry an 8-byte header (unpacked size, stored size) and its data.
# Fails when the pack ends before that entry's header.
pack_entry() {
  local file=$1 want=$2 end offset i u t
  end=$(($(stat -c %s "$file") - 4))
  offset=$((end - $(u32 "$file" "$end")))
  [ "$offset" -ge 0 ] || return 1
  for ((i = 0; offset + 8 <= end; i++)); do
    u=$(u32 "$file" "$offset")
    t=$(u32 "$file" $((offset + 4)))
    if [ "$i" -eq "$want" ]; then
      echo "$((offset + 8)) $u $t"
      return 0
    fi
    offset=$((offset + 8 + t))
  done
  return 1
}

# sign_setup IN OUT KEYDIR: signs IN into OUT as a maker would, with
# osslsigncode and a throwaway self-signed certificate made in KEYDIR on
# first use (KEYDIR/signer.crt checks the signature; nothing is kept).
sign_setup() {
  local in=$1 out=$2 key=$3/signer
  if [ ! -e "$key.p12" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=qz test signer" \
      -keyout "$key.key" -out "$key.crt" >/dev/null 2>&1 &&
      openssl pkcs12 -export -passout pass: -inkey "$key.key" -in "$key.crt" -out "$key.p12" >/dev/null 2>&1 ||
      return 1
  fi
  osslsigncode sign -pkcs12 "$key.p12" -pass "" -n "qz test installer" -h sha256 -in "$in" -out "$out" >/dev/null
}

# signature_valid FILE KEYDIR: osslsigncode accepts FILE's signature.
signature_valid() {
  osslsigncode verify -CAfile "$2/signer.crt" -in "$1" >/dev/null 2>&1
}
