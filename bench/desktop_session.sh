# Sourced by the benchmarks that need a real X server: checks the tools, starts Xvfb on a free
# display with openbox on it, exports DISPLAY, and makes $work, a scratch folder. Everything
# goes at exit; a script that needs more at exit sets extra_cleanup to a command.
#
#   desktop_session WIDTHxHEIGHT
desktop_session() {
    local screen=$1 tool
    for tool in Xvfb openbox xdotool; do
        command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
    done
    work=$(mktemp -d)
    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap desktop_session_end EXIT
    export DISPLAY=":$display"
    for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
}

desktop_session_end() {
    [ -n "${extra_cleanup:-}" ] && eval "$extra_cleanup"
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
