#!/usr/bin/env bash
# Times a direct stream copy against a re-encode of the same 40 s span, for an AVI of MPEG-4
# Part 2 + MP3 and for an MP4 of H.264 + MP3 (sources generated once, 45 s, 720p, 25 fps, a key
# frame every second), and checks the first and last pictures of each output against the
# source's pictures at the span's ends (PSNR in dB; "inf" is the very same picture).
#
#   bench/stream_copy_vs_encode.sh [BUILD_DIR] [RUNS]
#
# The MPEG-4 span starts on a key frame (2 s); the H.264 span starts between key frames
# (2.2 s), so its copy encodes the pictures up to the next key frame again (and those of the
# group cut by the span's end): those compare at about 50 dB, where a neighbouring picture of
# this source compares at about 22 dB.
set -euo pipefail

build=${1:-build}
runs=${2:-3}
converter="$build/bin/framewell-convert"
work="$build/bench-media"
mkdir -p "$work"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

make_source() { # NAME VIDEO_CODEC_ARGS...
    local file="$work/$1"; shift
    [ -s "$file" ] && return
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=45" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=45" \
        "$@" -g 25 -c:a libmp3lame -b:a 128k -avoid_negative_ts disabled "$file.part.${file##*.}"
    mv "$file.part.${file##*.}" "$file"
}
make_source copy-source.avi -c:v mpeg4 -q:v 3 -vtag DIVX
make_source copy-source.mp4 -c:v libx264 -preset medium -pix_fmt yuv420p

median_seconds() { # COMMAND... : median wall time of $runs runs
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=("$(( (end - start) / 1000000 ))")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", t[int((NR + 1) / 2)] / 1000 }'
}

psnr() { # OUTPUT OUTPUT_FRAME SOURCE SOURCE_FRAME
    ffmpeg -hide_banner -nostats -i "$1" -i "$3" -filter_complex \
        "[0:v]select=eq(n\,$2),setpts=PTS-STARTPTS[a];[1:v]select=eq(n\,$4),setpts=PTS-STARTPTS[b];[a][b]psnr" \
        -frames:v 1 -f null - 2>&1 | sed -n 's/.*average:\([^ ]*\).*/\1/p' | tail -1
}

check() { # NAME SOURCE START END OUTPUT
    local frames first last
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$5")
    first=$(awk -v s="$3" 'BEGIN { printf "%d", s * 25 + 0.5 }')
    last=$(awk -v e="$4" 'BEGIN { printf "%d", e * 25 - 0.5 }')
    printf '  %-28s %4s pictures (%d due); first vs source %d: %s dB, last vs source %d: %s dB\n' \
        "$1" "$frames" "$((last - first + 1))" "$first" "$(psnr "$5" 0 "$2" "$first")" \
        "$last" "$(psnr "$5" "$((frames - 1))" "$2" "$last")"
}

for job in "avi 2 42 avenc_mpeg4" "mp4 2.2 42.2 avenc_mpeg4"; do
    read -r kind start end encoder <<<"$job"
    source="$work/copy-source.$kind"
    copy=("$converter" --quiet --overwrite --start "$start" --end "$end"
        --video-compressor copy --audio-compressor copy "$source" "$work/copied-$kind.avi")
    encode=("$converter" --quiet --overwrite --start "$start" --end "$end"
        --video-compressor "$encoder" --audio-compressor lamemp3enc "$source" "$work/encoded-$kind.avi")
    copy_time=$(median_seconds "${copy[@]}")
    encode_time=$(median_seconds "${encode[@]}")
    echo "$kind source, span $start-$end s: copy $copy_time s, re-encode $encode_time s," \
        "$(awk -v c="$copy_time" -v e="$encode_time" 'BEGIN { printf "%.0f", e / c }') times faster"
    check "copy" "$source" "$start" "$end" "$work/copied-$kind.avi"
    check "re-encode" "$source" "$start" "$end" "$work/encoded-$kind.avi"
done
