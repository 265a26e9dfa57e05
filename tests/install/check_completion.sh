#!/usr/bin/env bash
# Runs kbxtool's bash completion as bash would on Tab and checks what it offers.
# Usage: check_completion.sh COMPLETION_FILE
set -o pipefail
source /usr/share/bash-completion/bash_completion || exit 1
source "$1" || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/backups" && touch "$scratch/TON_Strings .kbx" "$scratch/notes.txt"
cd "$scratch" || exit 1

# Only bash's completion machinery may call compopt; here it has nothing to change.
compopt() { :; }

failures=0
# complete LINE EXPECTED...: the words offered for the last word of LINE, in any order.
complete_line() {
  local line=$1
  shift
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _kbxtool kbxtool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got wanted
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  wanted=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: '$line' offers [$got], wanted [$wanted]" >&2
    failures=$((failures + 1))
  fi
}

complete_line "kbxtool " devices list import send delete info rename backup restore diff emulate detect ping undo history
complete_line "kbxtool history " export restore
complete_line "kbxtool --no" --no-history
complete_line "kbxtool re" rename restore
complete_line "kbxtool --j" --json
complete_line "kbxtool --t" --trace
complete_line "kbxtool list --" --json --trace
complete_line "kbxtool --in 2 --out 2 li" list
complete_line "kbxtool --vi" --virtual=
complete_line "kbxtool import " tone: dsp: reg: song: rhythm:
complete_line "kbxtool delete so" song:
# After a colon readline completes only the part behind it (":" breaks words).
complete_line "kbxtool delete song:" 0 1
complete_line "kbxtool import rhythm:" 0 1 2 3
complete_line "kbxtool import tone:" 0 1 2 3 4 5 6 7 8 9
complete_line "kbxtool send x.kbx dsp:" 0 1 2 3 4 5 6 7 8 9
complete_line "kbxtool import reg:" 0: 1: 2: 3:
complete_line "kbxtool import reg:2:" 0 1 2 3
complete_line "kbxtool import tone:3 " backups
complete_line "kbxtool send " "TON_Strings .kbx" backups
complete_line "kbxtool send TON_Strings.kbx rh" rhythm:
complete_line "kbxtool emulate --" --name --state --json
complete_line "kbxtool detect --" --save --json
complete_line "kbxtool ping --" --count --json
complete_line "kbxtool ping --count 3 --j" --json
complete_line "kbxtool backup " backups
[ "$failures" -eq 0 ] && echo "completion OK"
exit "$failures"
