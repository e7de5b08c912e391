#!/usr/bin/env bash
# Both programs' command lines as the shell meets them: --help and --version answer without a
# display and without starting GStreamer, a wrong option is one line and status 2, the manual
# pages describe every option of --help and no other, and the completion offers them all.
#   test_command_lines.sh BIN_DIR VERSION MANUAL_PAGE_DIR COMPLETION_FILE
set -uo pipefail
bin=$1 version=$2 pages=$3 completion=$4
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# No display, and a GStreamer registry of the test's own, which starting GStreamer writes.
registry=$scratch/registry.bin
bare() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM GST_REGISTRY_1_0="$registry" "$@"
}

# The options a help text or a rendered manual page lists: the words that begin its lines.
options_of() {
    grep -oE '^ +--[a-z][a-z-]*' | tr -d ' ' | sort -u
}

for program in framewell framewell-convert; do
    help=$(bare "$bin/$program" --help) || fail "$program --help failed"
    [[ $help == usage:\ $program* ]] || fail "$program --help: $help"
    [[ $(bare "$bin/$program" --version) == "$program $version" ]] ||
        fail "$program --version does not say $version"
    for wrong in --frobnicate -x; do
        error=$(bare "$bin/$program" "$wrong" 2>&1 >/dev/null)
        status=$?
        [[ $status == 2 && $(head -1 <<<"$error") == "$program: unknown option $wrong" ]] ||
            fail "$program $wrong: status $status, $error"
    done

    # The manual page's OPTIONS section against --help, both ways.
    page=$pages/$program.1
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=200 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page: $warnings"
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
    described=$(sed -n '/^OPTIONS/,/^[A-Z]/p' <<<"$rendered" | options_of)
    listed=$(options_of <<<"$help")
    [[ -n $listed && $described == "$listed" ]] ||
        fail "$program(1) describes [$(echo $described)], --help lists [$(echo $listed)]"
    sections=("EXIT STATUS" EXAMPLES)
    [[ $program == framewell-convert ]] && sections+=(SIGNALS)
    for section in "${sections[@]}"; do
        grep -qx "$section" <<<"$rendered" || fail "$program(1) has no $section"
    done
done
[[ ! -e $registry ]] || fail "--help, --version or a wrong option started GStreamer"
# The check above sees GStreamer start: a command that starts it writes the registry.
bare "$bin/framewell-convert" --video-compressor none --audio-compressor none \
    "$scratch/missing.mpg" "$scratch/out.avi" 2>/dev/null
[[ -e $registry ]] || fail "GStreamer started without writing $registry"

# The completion, as bash runs it on Tab: option names from --help, compressors by kind.
if [[ -r /usr/share/bash-completion/bash_completion ]]; then
    complete_words() {
        PATH="$bin:$PATH" bash -c '
            source /usr/share/bash-completion/bash_completion
            source "$1"
            shift
            COMP_WORDS=("$@")
            COMP_CWORD=$(($# - 1))
            COMP_LINE="$*"
            COMP_POINT=${#COMP_LINE}
            _framewell_convert "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@" 2>&1
    }
    offered=$(complete_words framewell-convert -- | sort -u)
    listed=$("$bin/framewell-convert" --help | options_of)
    [[ $offered == "$listed" ]] || fail "completion offers [$(echo $offered)]"
    video=$(complete_words framewell-convert --video-compressor "")
    audio=$(complete_words framewell-convert --start 2 --audio-compressor "")
    for expected in none default copy avenc_mpeg4; do
        grep -qx "$expected" <<<"$video" || fail "no $expected for --video-compressor: $video"
    done
    grep -qx lamemp3enc <<<"$audio" || fail "no lamemp3enc for --audio-compressor: $audio"
    ! grep -qx avenc_mpeg4 <<<"$audio" || fail "a video compressor for --audio-compressor"
else
    echo "bash-completion is not installed: the completion is not checked (./dev installs it)"
fi

exit $((failures > 0))
