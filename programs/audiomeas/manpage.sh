#!/bin/sh
# manpage.sh PROGRAM OUT: writes the manual page audiomeas(1) from the built
# program's own help: help2man makes it from `--help` and `--version`, and a
# COMMANDS section holds the help of every subcommand that a "Subcommands:"
# list names, at every level. The build runs it.
set -eu
program=$1; out=$2
name=$(basename "$program")
# The usage lines then say the plain name, not the build path.
PATH="$(cd "$(dirname "$program")" && pwd):$PATH"; export PATH
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

subcommands() { awk '/^Subcommands:/ {on = 1; next} on && /^$/ {exit} on && /^  [^ ]/ {print $1}'; }
# Every path below a command path ("" for the top), one a line.
paths() {
  "$name" $1 --help | subcommands | while read -r sub; do
    echo "${1:+$1 }$sub"
    paths "${1:+$1 }$sub"
  done
}
# Each help ends with the top level's footer (sample scales, exit codes),
# which the page shows once: it starts at the first line after the
# top level's Subcommands list.
footer=$("$name" --help | awk '/^Subcommands:/ {on = 1; next} on == 1 && /^$/ {on = 2; next} on == 2 && NF {print; exit}')
# Text as roff lines: backslashes printable, no line taken for a request.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/"; }

{
  echo "[COMMANDS]"
  paths "" | while read -r path; do
    echo ".SS \"$name $path\""
    echo ".nf"
    # $path is split into its words on purpose.
    "$name" $path --help | awk -v footer="$footer" '
      $0 == footer {exit}
      /^$/ {blank++; next}
      {while (blank > 0) {print ""; blank--}; print}' | roff
    echo ".fi"
  done
} >"$tmp/commands.h2m"

summary=$("$name" --help | head -n1 | sed "s/^$name: //")
help2man --no-info --name="$summary" --include="$tmp/commands.h2m" --output="$out" "$name"
