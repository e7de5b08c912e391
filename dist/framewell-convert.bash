# bash completion for framewell-convert. The option names come from its --help, so that a new
# option completes without a change here; only values need a line below.

_framewell_convert() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --video-compressor | --audio-compressor)
            local kind=${prev#--}
            kind=${kind%-compressor}
            # Factory names: one word each, and taken in any case of letters.
            local factories
            factories=$("$1" --list-compressors 2>/dev/null |
                awk -F '\t' -v kind="$kind" '$2 == kind { print $4 }')
            COMPREPLY=($(compgen -W "none default copy $factories" -- "$cur"))
            return
            ;;
        --resize)
            COMPREPLY=($(compgen -W "preserve stretch" -- "$cur"))
            return
            ;;
        --size | --fps)
            COMPREPLY=($(compgen -W "original" -- "$cur"))
            return
            ;;
        --deinterlace)
            COMPREPLY=($(compgen -W "auto on off" -- "$cur"))
            return
            ;;
        --subtitles)
            _filedir '@(srt|ass|ssa|sub|vtt)'
            return
            ;;
        --start | --end | --audio-track | --target-size | --jobs)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
        return
    fi
    _filedir
}
complete -F _framewell_convert framewell-convert
