#!/usr/bin/env bash
# Every command and option the program's own help lists is in the manual page and in the bash
# completion, so neither falls behind when the command line grows; and bash completes a command
# name and an option as a user types them.
# Usage: docs_match_help_test.sh VELMORA_PROGRAM MAN_PAGE_GZ COMPLETION_FILE
set -euo pipefail
velmora=$1 page=$2 completion=$3
man_text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
failed=0

completion_options() { # command -> the options its line in the completion offers, one per line
  awk -v command="$1" -F')' '/options="/ { split($1, names, / *\| */); for (i in names) { gsub(/ /, "", names[i]);
    if (names[i] == command) { sub(/.*options="/, ""); sub(/".*/, ""); gsub(/ /, "\n"); print } } }' "$completion"
}

commands=$("$velmora" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
[ -n "$commands" ] || { echo "no commands in velmora --help"; exit 1; }
for command in $commands; do
  grep -qE "^ +$command( |$)" <<<"$man_text" || { echo "manual page lacks the command $command"; failed=1; }
  grep -qE "commands=.*\\b$command\\b" "$completion" || { echo "completion lacks the command $command"; failed=1; }
  for option in $("$velmora" "$command" --help | grep -oE '^ +(-[a-z],)?--[a-z-]+' | grep -oE -- '--[a-z-]+' | grep -v -- '--help'); do
    grep -qF -- "$option" <<<"$man_text" || { echo "manual page lacks $command $option"; failed=1; }
    completion_options "$command" | grep -qxF -- "$option" || { echo "completion lacks $command $option"; failed=1; }
  done
done

# What bash offers at a Tab, through the real bash-completion helpers.
complete_line() { # words... -> the completions bash offers for the last word
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$0"
    COMP_WORDS=("${@}"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
    _velmora velmora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$@"
}
[ "$(complete_line velmora up)" = "upload" ] || { echo "velmora up<Tab> gave: $(complete_line velmora up)"; failed=1; }
[ "$(complete_line velmora restore --ta)" = "--target" ] \
  || { echo "velmora restore --ta<Tab> gave: $(complete_line velmora restore --ta)"; failed=1; }
exit $failed
