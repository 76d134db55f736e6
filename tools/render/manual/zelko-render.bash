# Bash completion for zelko-render: its options, the formats and encodings it writes, and the
# names of the plug-in's parameters after -p/--param. Everything is read from the renderer
# itself (--help and --list-params), so that it follows the installed version and the plug-in
# named by --plugin on the command line.

_zelko_render_help_words() {
    # Every option the help text names, short and long.
    zelko-render --help 2>/dev/null | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u
}

_zelko_render_list_after() {
    # The comma-separated names after a phrase of the help text, over its continuation lines.
    zelko-render --help 2>/dev/null |
        awk -v phrase="$1" 'index($0, phrase) { found = 1; sub(".*" phrase " *", ""); print; next }
                            found && /^  +[a-z0-9]/ && !/^  +-/ { print; next }
                            found { exit }' |
        tr ',' '\n' | tr -d ' '
}

_zelko_render_parameters() {
    # The name column of --list-params, for the plug-in this command line names.
    local plugin=() i
    for ((i = 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        if [[ ${COMP_WORDS[i]} == --plugin ]]; then plugin=(--plugin "${COMP_WORDS[i + 1]}"); fi
    done
    zelko-render --list-params "${plugin[@]}" 2>/dev/null |
        awk 'started && NF { sub(/^ *[0-9]+  +/, ""); sub(/  .*/, ""); print }
             /^index  +name/ { started = 1 }'
}

_zelko_render() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n'
    COMPREPLY=()
    case $previous in
        -p | --param)
            local name
            compopt -o nospace 2>/dev/null
            for name in $(_zelko_render_parameters); do
                if [[ $name == "$current"* ]]; then COMPREPLY+=("$(printf '%q' "$name")="); fi
            done
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "$(_zelko_render_list_after 'output format:')" -- "$current"))
            return
            ;;
        --subtype)
            COMPREPLY=($(compgen -W "$(_zelko_render_list_after 'sample format:')" -- "$current"))
            return
            ;;
        --dither)
            COMPREPLY=($(compgen -W $'tpdf\nnone' -- "$current"))
            return
            ;;
        -d | --output-dir)
            COMPREPLY=($(compgen -d -- "$current"))
            return
            ;;
        --plugin | -o | --output | --report)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
        --channel | --block | --rate | --process-rate | --loudness | --true-peak | --tail | \
            --demo-seconds | --jobs)
            return
            ;;
    esac
    if [[ $current == -* ]]; then
        COMPREPLY=($(compgen -W "$(_zelko_render_help_words)" -- "$current"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$current"))
}

complete -o filenames -F _zelko_render zelko-render
