#!/bin/sh
# Makes the manual page of pda from its own help: help2man turns `pda --help`
# and `pda --version` into the page, and a COMMANDS section carries the help
# of every sub-command, so the page never says anything the tool does not.
#
# Usage: make-man.sh PDA HELP2MAN OUTPUT
set -eu
pda=$1 help2man=$2 out=$3
include=$out.include

subcommands() {
  "$@" --help | awk '/^Subcommands:/ { inside = 1; next } /^[^ ]/ { inside = 0 }
                     inside && /^  [a-z]/ { print $1 }'
}

# Help text as roff: backslashes doubled, a line starting with a dot or a
# quote kept literal.
section() {
  printf '.SS "%s"\n.nf\n' "$*"
  "$@" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
  printf '.fi\n'
}

{
  printf '[COMMANDS]\n'
  for command in $(subcommands "$pda"); do
    nested=$(subcommands "$pda" "$command")
    if [ -z "$nested" ]; then
      section "$pda" "$command"
    else
      for sub in $nested; do section "$pda" "$command" "$sub"; done
    fi
  done
} | sed "s|$pda|pda|g" >"$include"

"$help2man" --no-info --no-discard-stderr --section=1 \
  --name="reads and changes the persisted settings of the Quillon suite" \
  --include="$include" --output="$out" "$pda"
rm -f "$include"
