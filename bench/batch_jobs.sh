#!/usr/bin/env bash
# Times four conversions into a folder at --jobs 1 and at --jobs 2, in alternating pairs (the
# issue's bound on two processors: --jobs 2 at least 1.6 times as fast), with the default
# compressors, on four 20 s 720p sources.
#
#   bench/batch_jobs.sh [BUILD_DIR] [PAIRS]
#
# Prints each pair, the medians and their ratio, and the load average before and after: run
# it on a quiet machine.
set -euo pipefail

build=${1:-build}
pairs=${2:-5}
converter="$build/bin/framewell-convert"
work="$build/bench-media/batch"
mkdir -p "$work/in" "$work/out"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

inputs=()
for i in 1 2 3 4; do
    file="$work/in/clip$i.mkv"
    if [ ! -s "$file" ]; then
        ffmpeg -hide_banner -loglevel error -y \
            -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=20" \
            -f lavfi -i "sine=frequency=$((300 + i * 100)):sample_rate=44100:duration=20" \
            -c:v libx264 -preset ultrafast -crf 28 -c:a libmp3lame -b:a 128k "$file.part.mkv"
        mv "$file.part.mkv" "$file"
    fi
    inputs+=("$file")
done

seconds() { # JOBS
    local start end
    start=$(date +%s%N)
    "$converter" --quiet --overwrite --jobs "$1" "${inputs[@]}" "$work/out" >/dev/null 2>&1
    end=$(date +%s%N)
    awk -v n="$((end - start))" 'BEGIN { printf "%.2f", n / 1e9 }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
ones=() twos=()
for pair in $(seq "$pairs"); do
    t1=$(seconds 1)
    t2=$(seconds 2)
    ones+=("$t1") twos+=("$t2")
    echo "pair $pair: --jobs 1 $t1 s, --jobs 2 $t2 s"
done
m1=$(median "${ones[@]}") m2=$(median "${twos[@]}")
echo "medians: --jobs 1 $m1 s, --jobs 2 $m2 s, $(awk -v a="$m1" -v b="$m2" 'BEGIN { printf "%.2f", a / b }') times as fast"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
