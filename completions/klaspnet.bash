# bash completion for klaspnet(1)

_klaspnet_zones()
{
    local dir=${TZDIR:-/usr/share/zoneinfo}
    [ -d "$dir" ] || return
    (cd "$dir" && find . -type f -name '[A-Z]*' 2>/dev/null | sed 's|^\./||' | grep -v -e '^posix/' -e '^right/')
}

_klaspnet()
{
    # With bash-completion, -s splits "--option=value" into prev and cur.
    local cur prev words cword split
    _init_completion -s 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }

    local commands="list validate stat stream-url parse"
    local cmd= i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        list | validate | stat | stream-url | parse)
            cmd=${words[i]}
            break
            ;;
        esac
    done
    if [ -z "$cmd" ]; then
        COMPREPLY=($(compgen -W "$commands --help -h --version" -- "$cur"))
        return
    fi

    # A value after "--option=" (without bash-completion) or after "--option".
    local opt=$prev value=$cur
    if [[ $cur == --*=* ]]; then
        opt=${cur%%=*}
        value=${cur#*=}
    fi
    case $opt in
    --sort)
        COMPREPLY=($(compgen -W "name size time" -- "$value"))
        return
        ;;
    --date-order)
        COMPREPLY=($(compgen -W "dmy mdy" -- "$value"))
        return
        ;;
    --server-tz)
        COMPREPLY=($(compgen -W "$(_klaspnet_zones)" -- "$value"))
        return
        ;;
    --password-file | --netrc-file | --cacert)
        COMPREPLY=($(compgen -f -- "$value"))
        return
        ;;
    --capath)
        COMPREPLY=($(compgen -d -- "$value"))
        return
        ;;
    --user | --max-depth | --jobs | --include | --exclude | --connect-timeout | --max-time | --retry | --url)
        return
        ;;
    esac

    local output="--json --help -h"
    local network="--user --password-file --netrc --netrc-file --insecure -k --cacert --capath
                   --connect-timeout --max-time --retry --plain-io --builtin-curl --quiet -q"
    local table="--sort --reverse -r --dirs-first --include --exclude --server-tz"
    local opts
    case $cmd in
    list) opts="$output $network $table --urls --recursive -R --max-depth --jobs --exact --date-order" ;;
    validate) opts="$output $network --date-order" ;;
    stat) opts="$output $network" ;;
    stream-url) opts="$output --curl --user --password-file --netrc --netrc-file --insecure -k --cacert --capath" ;;
    parse) opts="$output $table --url --quiet -q" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
        return
    fi
    if [ "$cmd" = parse ]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

complete -F _klaspnet klaspnet
