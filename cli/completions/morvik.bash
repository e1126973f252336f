# bash completion for morvik. cli/tests/completions.sh holds it to the --help
# texts: every command and option there, and no other.

_morvik() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    fi

    # The command so far: the words before the current one that are not options.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -*) break ;;
            *) command="${command:+$command }${words[i]}" ;;
        esac
    done

    local io="--text -o --output --no-progress --help"
    local key="--key-hex --key --key-file --key-prompt --bits"
    local records="--lines --csv --header --delimiter --keep-going --on-error"
    local options=""
    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "encrypt decrypt hex asc help" -- "$cur"))
            fi
            return ;;
        hex | asc)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--help" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "encode decode" -- "$cur"))
            fi
            return ;;
        help) COMPREPLY=($(compgen -W "encrypt decrypt hex asc" -- "$cur")); return ;;
        "help hex" | "help asc") COMPREPLY=($(compgen -W "encode decode" -- "$cur")); return ;;
        help\ *) return ;;
        encrypt*) options="$io --form $key --kernel --allow-trailing-zeros --utf8 $records" ;;
        decrypt*) options="$io --form $key --kernel --exact-input --utf8 $records" ;;
        "hex encode"* | "asc encode"*) options="$io" ;;
        "hex decode"* | "asc decode"*) options="$io --exact-input" ;;
        *) return ;;
    esac

    case $prev in
        --form) COMPREPLY=($(compgen -W "raw hex asc" -- "$cur")); return ;;
        --kernel) COMPREPLY=($(compgen -W "scalar sse2 avx2 avx512" -- "$cur")); return ;;
        --delimiter) COMPREPLY=($(compgen -W "tab , ; |" -- "$cur")); return ;;
        --on-error) COMPREPLY=($(compgen -W "stop keep empty" -- "$cur")); return ;;
        --text | --key | --key-hex | --bits | --csv) return ;;
        -o | --output | --key-file)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _morvik morvik morvik.exe
