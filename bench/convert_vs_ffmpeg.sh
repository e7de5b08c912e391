#!/usr/bin/env bash
# Times framewell-convert against the ffmpeg command line doing the same job: a 40-second
# 720p H.264 clip with AAC sound (generated once) to a 640x480 AVI of MPEG-4 Part 2 video
# (letterboxed with bilinear scaling, at the source's 25 fps) and MP3 audio, both with their
# tools' default encoder settings made equal (200 kbit/s video with a key frame every 12, VBR
# quality 4 audio).
#
#   bench/convert_vs_ffmpeg.sh [BUILD_DIR] [PAIRS] [load] [1080p]
#
# Runs the two commands in alternating pairs (after one warm-up pair) under /usr/bin/time and
# prints the medians of wall time, CPU time (user + system) and peak resident memory, with the
# ratios framewell / ffmpeg, and the medians of the ratios within each pair. "load" keeps one
# core busy with a second ffmpeg encode for the whole run, as on a machine that is doing
# something else. "1080p" switches to the memory job: 20 s of 1080p H.264 to MPEG-4 Part 2 with
# PCM sound, at the source's size.
set -euo pipefail

build=${1:-build}
pairs=${2:-5}
load=${3:-}
job=${4:-720p}
converter="$build/bin/framewell-convert"
work="$build/bench-media"
mkdir -p "$work"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed" >&2; exit 2; }

make_source() { # NAME SIZE SECONDS
    local file="$work/$1"
    if [ ! -s "$file" ]; then
        ffmpeg -hide_banner -loglevel error -y \
            -f lavfi -i "testsrc2=size=$2:rate=25:duration=$3" \
            -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$3" \
            -c:v libx264 -preset medium -pix_fmt yuv420p -c:a aac -b:a 160k -ac 2 "$file.part.mp4"
        mv "$file.part.mp4" "$file"
    fi
    echo "$file"
}

# framewell reads its codec settings from the settings store: keep the benchmark's own, empty.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

if [ "$job" = 1080p ]; then
    source=$(make_source source-1080p-20s.mp4 1920x1080 20)
    framewell_cmd=("$converter" --quiet --overwrite --video-compressor avenc_mpeg4
        --audio-compressor none "$source" "$work/framewell.avi")
    ffmpeg_cmd=(ffmpeg -hide_banner -loglevel error -y -i "$source" -c:v mpeg4 -b:v 200k -g 12
        -vtag DIVX -c:a pcm_s16le -f avi "$work/ffmpeg.avi")
else
    source=$(make_source source-720p-40s.mp4 1280x720 40)
    framewell_cmd=("$converter" --quiet --overwrite --size 640x480 --video-compressor avenc_mpeg4
        --audio-compressor lamemp3enc "$source" "$work/framewell.avi")
    ffmpeg_cmd=(ffmpeg -hide_banner -loglevel error -y -i "$source"
        -vf 'scale=640:480:force_original_aspect_ratio=decrease:flags=bilinear,pad=640:480:(ow-iw)/2:(oh-ih)/2,setsar=1'
        -c:v mpeg4 -b:v 200k -g 12 -vtag DIVX -c:a libmp3lame -q:a 4 -f avi "$work/ffmpeg.avi")
fi

loader=
if [ "$load" = load ]; then
    load_source=$(make_source source-720p-40s.mp4 1280x720 40)
    ( while :; do ffmpeg -hide_banner -loglevel error -threads 1 -i "$load_source" \
        -c:v libx264 -preset veryfast -threads 1 -f null - ; done ) &
    loader=$!
    trap 'kill -- -$loader 2>/dev/null || pkill -P $loader; kill $loader 2>/dev/null' EXIT
    sleep 2
fi

measure() { # NAME COMMAND... : appends "wall cpu maxrss_kib" to $work/NAME.times
    local name=$1; shift
    /usr/bin/time -f '%e %U %S %M' -o "$work/$name.one" "$@" >/dev/null
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/$name.one" >>"$work/$name.times"
}

rm -f "$work/framewell.times" "$work/ffmpeg.times"
measure warmup-fw "${framewell_cmd[@]}"; measure warmup-ff "${ffmpeg_cmd[@]}"
for _ in $(seq "$pairs"); do
    measure framewell "${framewell_cmd[@]}"
    measure ffmpeg "${ffmpeg_cmd[@]}"
done

[ -n "$loader" ] && { pkill -P "$loader" 2>/dev/null; kill "$loader" 2>/dev/null; trap - EXIT; }

python3 - "$work/framewell.times" "$work/ffmpeg.times" "$job" "${load:-idle}" <<'PY'
import statistics, sys
def rows(path):
    return [list(map(float, line.split())) for line in open(path)]
def medians(table):
    return [statistics.median(column) for column in zip(*table)]
framewell, ffmpeg = rows(sys.argv[1]), rows(sys.argv[2])
fw, ff = medians(framewell), medians(ffmpeg)
print(f"{sys.argv[3]} job, {sys.argv[4]}, medians of {len(framewell)} alternating pairs")
print(f"wall:   framewell {fw[0]:.2f} s, ffmpeg {ff[0]:.2f} s, ratio {fw[0] / ff[0]:.2f}")
print(f"cpu:    framewell {fw[1]:.2f} s, ffmpeg {ff[1]:.2f} s, ratio {fw[1] / ff[1]:.2f}")
print(f"memory: framewell {fw[2] / 1024:.0f} MiB, ffmpeg {ff[2] / 1024:.0f} MiB, "
      f"ratio {fw[2] / ff[2]:.2f}")
# The two runs of a pair follow each other, so the ratio within each pair holds steadier than
# the ratio of the medians while the machine's speed drifts.
within = medians([[a / b for a, b in zip(x, y)] for x, y in zip(framewell, ffmpeg)])
print(f"ratios within pairs (medians): wall {within[0]:.2f}, cpu {within[1]:.2f}, "
      f"memory {within[2]:.2f}")
PY

for file in framewell ffmpeg; do
    printf '%s: ' "$file"
    ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames -of csv=p=0 \
        "$work/$file.avi" | tr '\n' ' '
    echo
done
