# Bash completion for fwbforge2 and fwbinspect.

_fwbforge2() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
    --record)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --base-dir)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --only)
        # A list of names, or @FILE.
        if [[ $cur == @* ]]; then
            mapfile -t COMPREPLY < <(compgen -f -P @ -- "${cur#@}")
        fi
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--all --json --record --dry-run --only --base-dir --help --version --' -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

_fwbinspect() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
    --extract | --base-dir)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --manifest)
        mapfile -t COMPREPLY < <(compgen -f -X '!*.json' -- "$cur"; compgen -d -- "$cur")
        return
        ;;
    --update-data | --base | --diff)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--blobs --json --expect --base --diff --extract --update-data --manifest --base-dir --help --version --' -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -o filenames -F _fwbforge2 fwbforge2
complete -o filenames -F _fwbinspect fwbinspect
