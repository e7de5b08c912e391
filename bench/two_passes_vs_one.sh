#!/usr/bin/env bash
# Times a conversion aimed at a size in two passes (x264) against one pass of the same
# compressor at the same bit rate, on 60 s of 720p, in alternating pairs, and checks the size
# against its target. The issue's bound: two passes take at most 2.1 times one.
#
#   bench/two_passes_vs_one.sh [BUILD_DIR] [PAIRS] [SIZE_MB]
#
# Prints each pair, the medians and their ratio, and the load average before and after: run
# it on a quiet machine.
set -euo pipefail

build=${1:-build}
pairs=${2:-5}
target=${3:-12}
converter="$build/bin/framewell-convert"
work="$build/bench-media"
mkdir -p "$work"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }

source="$work/size-source-720p-60s.mkv"
if [ ! -s "$source" ]; then
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=60" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
        -c:v libx264 -preset ultrafast -crf 30 -c:a libmp3lame -b:a 96k "$source.part.mkv"
    mv "$source.part.mkv" "$source"
fi

common=(--quiet --overwrite --video-compressor x264enc --audio-compressor lamemp3enc "$source")
two=(env XDG_CONFIG_HOME="$work/config-two" "$converter" --target-size "$target" "${common[@]}"
    "$work/two-passes.avi")
mkdir -p "$work/config-two"
"${two[@]}"
size=$(stat -c %s "$work/two-passes.avi")
video_bytes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 \
    "$work/two-passes.avi" | awk '{ s += $1 } END { print s }')
kbits=$(awk -v b="$video_bytes" 'BEGIN { printf "%d", b * 8 / 60 / 1000 }')
# One pass at the bit rate the second pass spent, as the codec's confirmed setting.
mkdir -p "$work/config-one/Orvanta"
printf '[CodecSettings]\nx264enc=bitrate=%s\n' "$kbits" >"$work/config-one/Orvanta/framewell.conf"
one=(env XDG_CONFIG_HOME="$work/config-one" "$converter" "${common[@]}" "$work/one-pass.avi")

seconds() { # COMMAND...
    local start end
    start=$(date +%s%N)
    "$@"
    end=$(date +%s%N)
    awk -v n="$((end - start))" 'BEGIN { printf "%.2f", n / 1e9 }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "target $target MB: two passes wrote $size bytes ($(awk -v s="$size" -v t="$target" \
    'BEGIN { printf "%+.2f", (s / (t * 1e6) - 1) * 100 }')%), video at $kbits kbit/s"
twos=() ones=()
for pair in $(seq "$pairs"); do
    t2=$(seconds "${two[@]}")
    t1=$(seconds "${one[@]}")
    twos+=("$t2") ones+=("$t1")
    echo "pair $pair: two passes $t2 s, one pass $t1 s ($(stat -c %s "$work/one-pass.avi") bytes)"
done
m2=$(median "${twos[@]}") m1=$(median "${ones[@]}")
echo "medians: two passes $m2 s, one pass $m1 s, ratio $(awk -v a="$m2" -v b="$m1" 'BEGIN { printf "%.2f", a / b }')"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
