#!/usr/bin/env bash
# The layout check finds each kind of fault in a small tree made here, and passes a clean one.
# test_layout_check.sh CHECK_SCRIPT
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failed=0

# expect WHAT EXIT_STATUS MAX_LINES WINGS -- TEXT...: the check of the tree exits so and says
# every TEXT.
expect() {
    local what=$1 wanted=$2 max_lines=$3 wings=() output code text
    shift 3
    while [[ $1 != -- ]]; do wings+=("$1"); shift; done
    shift
    output=$(bash "$check" "$tree" "$max_lines" "${wings[@]}")
    code=$?
    [[ $code == "$wanted" ]] || { echo "FAIL $what: exit $code, wanted $wanted"; failed=1; }
    for text in "$@"; do
        grep -qF -- "$text" <<<"$output" || { echo "FAIL $what: no \"$text\""; failed=1; }
    done
    ((failed)) && echo "$output"
}

mkdir -p "$tree"/media/low "$tree"/media/high "$tree"/app "$tree"/tests
printf '#pragma once\n#include <gst/gst.h>\n' >"$tree"/media/low/base.h
printf '#include "media/low/base.h"\n' >"$tree"/media/high/user.cpp
printf '1\n2\n3\n' >"$tree"/app/short.cpp
printf '1\n2\n3\n4\n5\n' >"$tree"/tests/long_test.cpp
expect "clean tree" 0 3 low: high:low -- "layout kept: 2 wings"

printf '#include "media/high/user.h"\n' >"$tree"/media/low/upward.cpp
printf '#include "media/low/base.h"\n' >"$tree"/media/loose.h
printf '#include "media/base.h"\n#include "platform/paths.h"\n' >"$tree"/media/low/flat.cpp
printf '1\n2\n3\n4\n' >"$tree"/app/long.cpp
expect "faults" 1 3 low: high:low -- \
    "media/low/upward.cpp:1: includes media/high/user.h: low may not use high" \
    "media/loose.h: not in a wing" \
    "media/low/flat.cpp:1: includes media/base.h, which names no wing" \
    "media/low/flat.cpp:2: includes platform/paths.h, from above media/" \
    "app/long.cpp: 4 lines, more than 3" "5 layout faults"

expect "cyclic table" 1 9 low:high high:low,none -- "wing low uses itself" \
    "wing high uses itself" "wing high uses none, which is no wing"
exit $failed
