#!/usr/bin/env bash
# Times Framewell from launch until its main dialog is visible, under Xvfb with openbox, with
# fresh settings for every launch (the GStreamer registry and the program's cache stay, as on
# a user's machine after the first run).
#
#   bench/startup_to_dialog.sh [BUILD_DIR] [LAUNCHES] [cold]
#
# "cold" also empties the program's cache folder before each launch: the first start after
# the installed plugins changed. Needs Xvfb, openbox and xdotool.
set -euo pipefail

build=${1:-build}
launches=${2:-5}
cold=${3:-}
program="$build/bin/framewell"
[ -x "$program" ] || { echo "build framewell first: $program" >&2; exit 2; }
. "$(dirname "$0")/desktop_session.sh"
desktop_session 1600x1000

cache="${XDG_CACHE_HOME:-$HOME/.cache}/Orvanta"
times=()
for run in $(seq "$launches"); do
    export XDG_CONFIG_HOME="$work/config-$run"
    mkdir -p "$XDG_CONFIG_HOME"
    [ "$cold" = cold ] && rm -rf "$cache"
    start=$(date +%s%N)
    "$program" >/dev/null 2>&1 &
    pid=$!
    until xdotool search --onlyvisible --pid "$pid" --name '^Framewell$' >/dev/null 2>&1; do
        if ! kill -0 "$pid" 2>/dev/null; then echo "framewell ended before showing" >&2; exit 1; fi
        if [ $(( ($(date +%s%N) - start) / 1000000 )) -gt 20000 ]; then
            echo "no visible dialog after 20 s" >&2; kill "$pid"; exit 1
        fi
    done
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    sleep 0.3
done

sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(printf '%s\n' "$sorted" | sed -n "$(( (launches + 1) / 2 ))p")
echo "launch to visible dialog (ms): ${times[*]}"
echo "median: $median ms"
