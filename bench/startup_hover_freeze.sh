#!/usr/bin/env bash
# Launches Framewell again and again on a real X server (Xvfb with openbox) with the pointer
# already resting where the Open Video button appears, stirred by a pixel as a resting hand
# does, so that its hover sound starts while the program is still starting; then clicks About
# and waits for the About box. A launch whose About box does not show within 10 s counts as
# frozen (and is killed).
#
#   bench/startup_hover_freeze.sh [BUILD_DIR] [LAUNCHES]
#
# Needs Xvfb, openbox and xdotool. Prints one line per launch and the count of frozen ones;
# with KEEP_LOGS set, each launch's output is kept in /tmp/freeze-logs (GST_DEBUG=
# GST_PLUGIN_LOADING:4 then shows which thread loads which plugin when).
set -euo pipefail

build=${1:-build}
launches=${2:-10}
program="$build/bin/framewell"
[ -x "$program" ] || { echo "build framewell first: $program" >&2; exit 2; }
. "$(dirname "$0")/desktop_session.sh"
pid=
# A launch left frozen is killed; with KEEP_LOGS set, the launches' output is kept.
extra_cleanup='[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; [ -n "${KEEP_LOGS:-}" ] && cp -r "$work" /tmp/freeze-logs'
desktop_session 1366x768

# Waits up to $2 ms for a visible window of the program named $1; prints its id.
wait_for_window() {
    local name=$1 limit=$2 start id
    start=$(date +%s%N)
    while :; do
        id=$(xdotool search --onlyvisible --pid "$pid" --name "$name" 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        [ $(( ($(date +%s%N) - start) / 1000000 )) -gt "$limit" ] && return 1
        sleep 0.02
    done
}

launch() {
    export XDG_CONFIG_HOME="$work/config-$1"
    mkdir -p "$XDG_CONFIG_HOME"
    "$program" >"$work/log-$1" 2>&1 &
    pid=$!
}

# The main dialog is 257 x 193 dialog units; Open Video's centre lies at (32, 21) and About's
# at (224, 21). A first launch finds where the window comes up.
launch calibrate
window=$(wait_for_window '^Framewell$' 20000) || { echo "no dialog on the calibration launch" >&2; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
open_x=$((X + WIDTH * 32 / 257)); open_y=$((Y + HEIGHT * 21 / 193))
about_x=$((X + WIDTH * 224 / 257)); about_y=$((Y + HEIGHT * 21 / 193))
kill -9 "$pid"; wait "$pid" 2>/dev/null || true; pid=

frozen=0
for run in $(seq "$launches"); do
    xdotool mousemove "$open_x" "$open_y"
    launch "$run"
    if ! wait_for_window '^Framewell$' 20000 >/dev/null; then
        echo "launch $run: no dialog within 20 s"; frozen=$((frozen + 1))
    else
        for _ in $(seq 15); do
            xdotool mousemove "$((open_x + 1))" "$open_y" mousemove "$open_x" "$open_y"
            sleep 0.02
        done
        xdotool mousemove "$about_x" "$about_y" click 1
        if wait_for_window '^About Framewell$' 10000 >/dev/null; then
            echo "launch $run: About answered"
        else
            echo "launch $run: FROZEN (no About box within 10 s)"; frozen=$((frozen + 1))
        fi
    fi
    kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; pid=
    sleep 0.3
done
echo "frozen: $frozen of $launches"
