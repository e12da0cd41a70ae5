# bash completion for kestrelon-cli
_kestrelon_cli() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
        --encoding)
            mapfile -t COMPREPLY < <(compgen -W "gbk utf-8 unicode big5" -- "$cur")
            return
            ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "txt epub" -- "$cur")
            return
            ;;
        --out)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        --settings)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --from | --to)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        local options
        options=$(kestrelon-cli --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    fi
}
complete -F _kestrelon_cli kestrelon-cli
