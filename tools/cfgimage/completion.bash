# bash completion for cfgimage(1). The commands and their options come from
# its usage text and the field names from `cfgimage fields`, so that nothing
# here lists them a second time. Files are completed otherwise.

_cfgimage()
{
    local program=$1 cur=$2 usage synopsis words i operands=0 fips=
    usage=$("$program" --help 2>/dev/null) || return
    # Words as typed; the last one is the word being completed ("x" keeps
    # it when it is still empty).
    read -ra words <<<"${COMP_LINE:0:COMP_POINT}x"
    if ((${#words[@]} <= 2)); then
        mapfile -t COMPREPLY < <(compgen -W "$(sed -n 's/^[a-z: ]*cfgimage \([a-z]*\).*/\1/p' <<<"$usage")" -- "$cur")
        return
    fi
    synopsis=$(grep -E "^[a-z: ]*cfgimage ${words[1]}( |\$)" <<<"$usage")
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(grep -oE -- '--[a-z-]+' <<<"$synopsis")" -- "$cur")
        return
    fi
    # The operands before the word being completed; an option's value is none.
    for ((i = 2; i < ${#words[@]} - 1; i++)); do
        if [[ ${words[i]} == --fips ]]; then
            fips=--fips
        elif [[ ${words[i]} == --* ]]; then
            [[ $synopsis == *"[${words[i]} "[A-Z]* ]] && ((i++))
        else
            ((operands++))
        fi
    done
    ((operands >= 1)) || return
    case ${words[1]} in
    get)
        mapfile -t COMPREPLY < <(compgen -W "$("$program" fields $fips)" -- "$cur")
        ;;
    set)
        [[ ${words[-1]} == *=* ]] && { compopt +o default 2>/dev/null; return; }  # a value
        compopt -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -S = -W "$("$program" fields $fips)" -- "$cur")
        ;;
    esac
}
complete -o default -F _cfgimage cfgimage
