# bash completion for korrin: korrin URL [-u USER] [-p PASSWORD] [-o FILE] [-h]
#
# The first word is the URL, which has nothing to offer. After it come the option words, and
# after -o a file name; the values of -u and -p are the user's own. An option's value is always
# the next word, whatever it looks like, so a value that reads like an option counts as a value.

_korrin() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    [ "$COMP_CWORD" -le 1 ] && return 0

    # Walk the words before the cursor, stepping over each option's value, to learn whether the
    # word under the cursor is a value and of which option.
    local i=2 word valueOf=
    while [ "$i" -lt "$COMP_CWORD" ]; do
        word=${COMP_WORDS[i]}
        case $word in
            -[uUpPoO])
                if [ $((i + 1)) -eq "$COMP_CWORD" ]; then valueOf=$word; fi
                i=$((i + 2)) ;;
            *) i=$((i + 1)) ;;
        esac
    done

    case $valueOf in
        -[oO])
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        -?) ;;
        *) mapfile -t COMPREPLY < <(compgen -W "-u -p -o -h" -- "$cur") ;;
    esac
    return 0
}
complete -F _korrin korrin
