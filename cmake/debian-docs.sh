#!/usr/bin/env bash
# What Debian asks of a package with a tool in /usr/bin, written into DIR at
# install time (and so by CPack):
#   qzpack.1.gz   the manual page, made with help2man from `qzpack --help`
#                 and, as its COMMANDS section, each command's own --help: it
#                 cannot drift from the help, because it is the help;
#   changelog.gz  the changelog, as it stands in docs/.
# The page's date is SOURCE_DATE_EPOCH's when set (scripts/package sets the
# last commit's), and the version is given rather than read from --version,
# which names the stub's path on this machine: so the page is reproducible.
#
# Usage: cmake/debian-docs.sh QZPACK VERSION CHANGELOG DIR
set -euo pipefail
qzpack=$1 version=$2 changelog=$3 dir=$4
for tool in help2man gzip; do
  command -v "$tool" >/dev/null || { echo "debian-docs: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done
mkdir -p "$dir"

# The command names: the first word of each line under "commands:".
commands=$("$qzpack" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }')
[ -n "$commands" ] || { echo "debian-docs: 'qzpack --help' lists no commands" >&2; exit 1; }

# Each command's help, as it prints it, in a section of its own: groff's
# escape character and lines that start like a request are quoted.
include=$dir/qzpack.h2m
{
  echo "[COMMANDS]"
  for c in $commands; do
    echo ".SS $c"
    echo ".nf"
    "$qzpack" "$c" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
    echo ".fi"
  done
} >"$include"

help2man --no-info --section=1 --include="$include" \
  --version-string="qzpack $version" \
  --name="build small self-extracting installers for 32-bit Windows" \
  --output="$dir/qzpack.1" "$qzpack"
cp "$changelog" "$dir/changelog"
# -n: no name or time in the gzip headers, so the package is reproducible.
gzip -9nf "$dir/qzpack.1" "$dir/changelog"
rm -f "$include"
