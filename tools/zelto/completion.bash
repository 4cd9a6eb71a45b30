# bash completion for zelto                                  -*- shell-script -*-
#
# Commands and options come from zelto's own --help, so they never fall
# behind the program. Mixers come from a short discovery (zelto discover
# --json) that is cut off after ZELTO_COMPLETION_TIMEOUT seconds (default
# 0.5; 0 asks no mixer), with the --host, --no-broadcast and --dir given on
# the line; preset names come from the sync folder (zelto list local --json),
# which asks no mixer.

# The option or command names of one help text section ("Options:" or
# "Subcommands:"): the first word of each row, split at commas.
_zelto_help_words() {
    local section=$1
    shift
    "${_zelto_program:-zelto}" "$@" --help 2>/dev/null | awk -v section="$section" '
        /^[^ ].*:$/ { inside = ($0 == section); next }
        inside && /^  [^ ]/ { n = split($1, names, ","); for (i = 1; i <= n; ++i) print names[i] }'
}

# The string values of one key in zelto's JSON output, one a line.
_zelto_json_values() {
    sed -n 's/^ *"'"$1"'": "\(\([^"\\]\|\\.\)*\)",\{0,1\}$/\1/p' | sed 's/\\\(["\\/]\)/\1/g'
}

# The --host, --no-broadcast and --dir arguments already on the line.
_zelto_network_arguments() {
    local i
    for ((i = 1; i < ${#COMP_WORDS[@]}; ++i)); do
        ((i == COMP_CWORD)) && continue
        case ${COMP_WORDS[i]} in
            --host | --dir)
                ((i + 1 < ${#COMP_WORDS[@]} && i + 1 != COMP_CWORD)) && printf '%s\n' "${COMP_WORDS[i]}" "${COMP_WORDS[i + 1]}"
                ;;
            --no-broadcast) printf '%s\n' --no-broadcast ;;
        esac
    done
}

# Addresses, uids and names of the mixers that answer in time.
_zelto_mixers() {
    local limit=${ZELTO_COMPLETION_TIMEOUT:-0.5} args=() line
    [[ $limit == 0 || $limit == 0.0 ]] && return
    while IFS= read -r line; do
        [[ $line == --dir ]] && { read -r line; continue; }
        args+=("$line")
    done < <(_zelto_network_arguments)
    local json
    json=$(timeout -k 1 "$(awk -v t="$limit" 'BEGIN { print t + 1 }')" \
        "${_zelto_program:-zelto}" discover --json --timeout "$limit" "${args[@]}" </dev/null 2>/dev/null)
    for key in address uid name; do
        _zelto_json_values "$key" <<<"$json"
    done | awk 'NF && !seen[$0]++'
}

# The preset names in the sync folder.
_zelto_local_presets() {
    local args=() line
    while IFS= read -r line; do
        if [[ $line == --dir ]]; then
            read -r line
            args=(--dir "$line")
        fi
    done < <(_zelto_network_arguments)
    timeout -k 1 2 "${_zelto_program:-zelto}" list local --json "${args[@]}" </dev/null 2>/dev/null |
        _zelto_json_values name
}

# Sets COMPREPLY to the lines of standard input that start with the current word.
_zelto_reply() {
    local cur=$1 word
    COMPREPLY=()
    while IFS= read -r word; do
        [[ -n $word && $word == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done
}

# Folders (-d) or files (-f) starting with the current word.
_zelto_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$2")
}

_zelto() {
    local _zelto_program=${COMP_WORDS[0]}
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command="" i
    for ((i = 1; i < COMP_CWORD; ++i)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _zelto_reply "$cur" < <(_zelto_help_words Options:)
        else
            _zelto_reply "$cur" < <(_zelto_help_words Subcommands:)
        fi
        return
    fi

    case $prev in
        --dir)
            _zelto_files -d "$cur"
            return
            ;;
        -o | --output)
            _zelto_files -f "$cur"
            return
            ;;
        --host | --timeout | --version) return ;;
        --from | --to)
            _zelto_reply "$cur" < <(printf '%s\n' local; _zelto_mixers)
            return
            ;;
        --on)
            _zelto_reply "$cur" < <(_zelto_mixers)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        _zelto_reply "$cur" < <(_zelto_help_words Options: "$command")
        return
    fi
    case $command in
        list) _zelto_reply "$cur" < <(printf '%s\n' local; _zelto_mixers) ;;
        identify | info) _zelto_reply "$cur" < <(_zelto_mixers) ;;
        copy | load | delete | history | restore) _zelto_reply "$cur" < <(_zelto_local_presets) ;;
        show | pack) _zelto_files -f "$cur" ;;
    esac
} &&
    complete -F _zelto zelto
