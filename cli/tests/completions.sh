#!/bin/bash
# The shell completions against the tool. bash: the completion function is
# asked, as the shell asks it, for commands, each command's options (exactly
# those of its --help), forms, kernels and file names. zsh and fish: each
# file names every option of the --help texts and no other; the shells that
# are installed parse it, and fish is asked for completions too.
#   completions.sh MORVIK COMPLETIONS_DIR
set -uo pipefail
MORVIK=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/help_options.sh"
words() { printf '%s\n' "$@" | sort -u | tr '\n' ' '; }

# Asks the bash completion for the last word of the line.
complete_bash() {
    bash --norc --noprofile -c '
        [ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
        . "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _morvik morvik "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        [ ${#COMPREPLY[@]} = 0 ] || printf "%s\n" "${COMPREPLY[@]}"' complete "$dir/morvik.bash" "$@" | sort -u | tr '\n' ' '
}
expect() {  # expect "WORDS" morvik ARGS...
    local want=$1; shift
    local got; got=$(complete_bash "$@")
    [ "$got" = "$want" ] || fail "bash: '$*' completes to '$got', not '$want'"
}

scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
touch "$scratch/notes.txt" "$scratch/notes.asc"
expect "asc decrypt encrypt help hex " morvik ""
expect "encrypt " morvik enc
expect "decode encode " morvik hex ""
expect "decode " morvik asc dec
expect "asc hex raw " morvik encrypt --form ""
expect "avx2 avx512 " morvik decrypt --kernel avx
expect "empty keep stop " morvik decrypt --lines --on-error ""
expect "$scratch/notes.asc $scratch/notes.txt " morvik decrypt "$scratch/notes."
expect "$scratch/notes.asc " morvik decrypt --key-file "$scratch/notes.a"
expect "$scratch/notes.txt " morvik encrypt -o "$scratch/notes.t"
expect "" morvik encrypt --key ""
for command in encrypt decrypt "hex encode" "hex decode" "asc encode" "asc decode"; do
    # shellcheck disable=SC2086
    got=$(complete_bash morvik $command -)
    want=$(words $(options_of "$command" | grep -vx -- -h))
    [ "$got" = "$want" ] || fail "bash: the options of '$command' are '$got'; --help has '$want'"
done

# zsh and fish: every option, and nothing else.
known=" $(all_options | tr '\n' ' ') "
for file in _morvik morvik.fish; do
    for option in $(all_options); do
        case $file:$option in
            morvik.fish:--*) grep -qE -- "-l ${option#--}( |$)" "$dir/$file" || fail "$file lacks $option" ;;
            morvik.fish:-*) grep -qE -- "-s ${option#-}( |$)" "$dir/$file" || fail "$file lacks $option" ;;
            *) grep -qE -- "(^|[ '{,(])$option([][ ,'})=]|$)" "$dir/$file" || fail "$file lacks $option" ;;
        esac
    done
done
for option in $(grep -oE -- "(^|[ '{,(])--[a-z][a-z0-9-]*" "$dir/_morvik" | tr -d " '{,(" | sort -u) \
              $(grep '^complete' "$dir/morvik.fish" | grep -oE -- "-l [a-z][a-z0-9-]*" | sed 's/^-l /--/' | sort -u); do
    case $known in *" $option "*) ;; *) fail "a completion offers $option, which --help does not know" ;; esac
done
if command -v zsh >/dev/null; then
    zsh -n "$dir/_morvik" || fail "zsh cannot parse _morvik"
fi
if command -v fish >/dev/null; then
    fish --no-execute "$dir/morvik.fish" || fail "fish cannot parse morvik.fish"
    got=$(HOME=$scratch fish --no-config -c "source $dir/morvik.fish; complete -C 'morvik encrypt --fo'" | cut -f1)
    [ "$got" = "--form" ] || fail "fish: 'morvik encrypt --fo' completes to '$got'"
    got=$(HOME=$scratch fish --no-config -c "source $dir/morvik.fish; complete -C 'morvik decrypt --form '" | cut -f1 |
          sort | tr '\n' ' ')
    [ "$got" = "asc hex raw " ] || fail "fish: the forms are '$got'"
fi
[ "$faults" = 0 ] && echo "completions: every check passed" || exit 1
