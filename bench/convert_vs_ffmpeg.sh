#!/usr/bin/env bash
# Times framewell-convert against the ffmpeg command line doing the same job: a 40-second
# 720p H.264 clip with AAC sound (generated once) to a 640x480 AVI of MPEG-4 Part 2 video
# (letterboxed with bilinear scaling, at the source's 25 fps) and MP3 audio, both with their
# tools' default encoder settings made equal (200 kbit/s video with a key frame every 12, VBR
# quality 4 audio).
#
#   bench/convert_vs_ffmpeg.sh [BUILD_DIR] [RUNS]
#
# Prints hyperfine's table and the wall-time and CPU-time ratios framewell / ffmpeg.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
converter="$build/bin/framewell-convert"
work="$build/bench-media"
mkdir -p "$work"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 2; }

source="$work/source-720p-40s.mp4"
if [ ! -s "$source" ]; then
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=40" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=40" \
        -c:v libx264 -preset medium -pix_fmt yuv420p -c:a aac -b:a 160k -ac 2 "$source.part.mp4"
    mv "$source.part.mp4" "$source"
fi

# framewell reads its codec settings from the settings store: keep the benchmark's own, empty.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

framewell_cmd="$converter --quiet --overwrite --size 640x480 --video-compressor avenc_mpeg4 \
--audio-compressor lamemp3enc $source $work/framewell.avi"
ffmpeg_cmd="ffmpeg -hide_banner -loglevel error -y -i $source \
-vf 'scale=640:480:force_original_aspect_ratio=decrease:flags=bilinear,pad=640:480:(ow-iw)/2:(oh-ih)/2,setsar=1' \
-c:v mpeg4 -b:v 200k -g 12 -vtag DIVX -c:a libmp3lame -q:a 4 -f avi $work/ffmpeg.avi"

hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" \
    --command-name framewell "$framewell_cmd" --command-name ffmpeg "$ffmpeg_cmd"

python3 - "$work/times.json" <<'EOF'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
fw, ff = results["framewell"], results["ffmpeg"]
cpu = lambda r: r["user"] + r["system"]
print(f"wall: framewell {fw['mean']:.2f} s, ffmpeg {ff['mean']:.2f} s, ratio {fw['mean'] / ff['mean']:.2f}")
print(f"cpu:  framewell {cpu(fw):.2f} s, ffmpeg {cpu(ff):.2f} s, ratio {cpu(fw) / cpu(ff):.2f}")
EOF

for file in framewell ffmpeg; do
    printf '%s: ' "$file"
    ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames -of csv=p=0 \
        "$work/$file.avi" | tr '\n' ' '
    echo
done
