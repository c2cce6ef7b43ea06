# bash completion for tessaly-cli
_tessaly_cli() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="new backup ls check restore extract export test-ftp"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local command=${words[1]} options=""
    case $command in
        new) options="--name --items --folder --ftp --remote-folder --user --level --encrypt" ;;
        backup) options="--quiet --drive" ;;
        ls) options="--json" ;;
        check) options="" ;;
        restore) options="--items --quiet --drive" ;;
        extract) options="--items --force --quiet" ;;
        export) options="--items --eml --force --json --quiet --drive" ;;
        test-ftp) options="--trust-fingerprint" ;;
        *) return ;;
    esac
    options="$options --profile --help"

    case $prev in
        --items)
            local values="addressbook favorites ie oe"
            [[ $command == new ]] && values="$values all"
            # A comma list: complete the word after the last comma.
            local done_part="" last=$cur
            if [[ $cur == *,* ]]; then
                done_part=${cur%,*},
                last=${cur##*,}
            fi
            COMPREPLY=($(compgen -W "$values" -P "$done_part" -- "$last"))
            compopt -o nospace 2>/dev/null
            return ;;
        --level)
            COMPREPLY=($(compgen -W "none fastest default max" -- "$cur"))
            return ;;
        --profile | --folder)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --name | --ftp | --remote-folder | --user | --trust-fingerprint | --drive)
            return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # The folder extract and export write into comes after the data file.
    if [[ $command == extract || $command == export ]]; then
        local i positionals=0
        for ((i = 2; i < cword; i++)); do
            case ${words[i]} in
                --items | --profile | --drive) ((i++)) ;;
                -*) ;;
                *) ((positionals++)) ;;
            esac
        done
        if ((positionals >= 1)); then
            COMPREPLY=($(compgen -d -- "$cur"))
            compopt -o filenames 2>/dev/null
            return
        fi
    fi
    # The one positional argument: a project file for new and backup, a data file otherwise.
    local extension=tsly_dat
    [[ $command == new || $command == backup || $command == test-ftp ]] && extension=tsly
    COMPREPLY=($(compgen -f -X "!*.$extension" -- "$cur") $(compgen -d -- "$cur"))
    compopt -o filenames 2>/dev/null
}
complete -F _tessaly_cli tessaly-cli
