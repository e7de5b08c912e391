#!/usr/bin/env bash
# Times a direct stream copy by framewell-convert against ffmpeg's own copy of the same span
# ("ffmpeg -ss A -to B -i SOURCE -c copy"), whole processes under /usr/bin/time: wall time, CPU
# time and peak resident memory, medians of alternating pairs after a warm-up pair.
#
#   bench/stream_copy_vs_ffmpeg.sh [BUILD_DIR] [PAIRS]
#
# Jobs, on 45 s of 720p H.264 + MP3 at 25 fps (made once in BUILD_DIR/bench-media):
#   on-key   a key frame every second, span 2-42 s: starts on a key frame, nothing is encoded
#   head     the same source, span 2.2-42.2 s: the pictures up to the key frame at 3 s are
#            encoded again (ffmpeg starts at the key frame before the mark instead)
#   long-gop a key frame every 10 s, span 2.2-42.2 s: almost a whole group encoded again
# The extra time of "head" and "long-gop" over "on-key" is what cutting between key frames
# costs; framewell-convert says how many pictures it encoded again.
set -euo pipefail

build=${1:-build}
pairs=${2:-5}
converter="$build/bin/framewell-convert"
work="$build/bench-media"
mkdir -p "$work"
[ -x "$converter" ] || { echo "build framewell-convert first: $converter" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed" >&2; exit 2; }
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

make_source() { # NAME KEY_INTERVAL
    local file="$work/$1"
    if [ ! -s "$file" ]; then
        ffmpeg -hide_banner -loglevel error -y \
            -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=45" \
            -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=45" \
            -c:v libx264 -preset medium -pix_fmt yuv420p -g "$2" -keyint_min "$2" \
            -sc_threshold 0 -c:a libmp3lame -b:a 128k "$file.part.mp4"
        mv "$file.part.mp4" "$file"
    fi
    echo "$file"
}
short=$(make_source copy-720p-gop1s.mp4 25)
long=$(make_source copy-720p-gop10s.mp4 250)

measure() { # NAME COMMAND... : appends "wall cpu maxrss_kib" to $work/NAME.times
    local name=$1; shift
    /usr/bin/time -f '%e %U %S %M' -o "$work/$name.one" "$@" >/dev/null 2>"$work/$name.err"
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/$name.one" >>"$work/$name.times"
}

# What decoding and encoding one group of pictures costs alone: the first group of a source,
# decoded and encoded again as a copy encodes its head, as a whole process.
group_alone() { # SOURCE PICTURES
    /usr/bin/time -f '%e %U %S %M' -o "$work/group.one" gst-launch-1.0 -q filesrc location="$1" \
        ! qtdemux ! h264parse ! avdec_h264 ! identity eos-after="$2" ! videoconvert \
        ! x264enc pass=qual quantizer=18 speed-preset=veryfast tune=zerolatency \
        ! fakesink sync=false >/dev/null
    awk -v n="$2" '{ printf "one group alone (%d pictures): wall %.2f s, cpu %.2f s, memory %.0f MiB\n", n, $1, $2 + $3, $4 / 1024 }' "$work/group.one"
}

for job in "on-key $short 2 42" "head $short 2.2 42.2" "long-gop $long 2.2 42.2"; do
    read -r name source start end <<<"$job"
    framewell_cmd=("$converter" --overwrite --start "$start" --end "$end"
        --video-compressor copy --audio-compressor copy "$source" "$work/copied.avi")
    ffmpeg_cmd=(ffmpeg -hide_banner -loglevel error -y -ss "$start" -to "$end" -i "$source"
        -c copy "$work/ffmpeg-copied.avi")
    rm -f "$work/framewell.times" "$work/ffmpeg.times"
    measure warmup-fw "${framewell_cmd[@]}"; measure warmup-ff "${ffmpeg_cmd[@]}"
    for _ in $(seq "$pairs"); do
        measure framewell "${framewell_cmd[@]}"
        measure ffmpeg "${ffmpeg_cmd[@]}"
    done
    echo "== $name: span $start-$end s of $(basename "$source")"
    grep -o 'copied.*' "$work/framewell.err" | tail -1 || true
    python3 - "$work/framewell.times" "$work/ffmpeg.times" "$pairs" <<'PY'
import statistics, sys
def rows(path):
    return [list(map(float, line.split())) for line in open(path)]
def medians(table):
    return [statistics.median(column) for column in zip(*table)]
framewell, ffmpeg = rows(sys.argv[1]), rows(sys.argv[2])
fw, ff = medians(framewell), medians(ffmpeg)
within = medians([[a / b for a, b in zip(x, y)] for x, y in zip(framewell, ffmpeg)])
print(f"medians of {sys.argv[3]} alternating pairs")
print(f"wall:   framewell {fw[0]:.2f} s, ffmpeg {ff[0]:.2f} s, ratio within pairs {within[0]:.2f}")
print(f"cpu:    framewell {fw[1]:.2f} s, ffmpeg {ff[1]:.2f} s, ratio within pairs {within[1]:.2f}")
print(f"memory: framewell {fw[2] / 1024:.0f} MiB, ffmpeg {ff[2] / 1024:.0f} MiB, "
      f"ratio within pairs {within[2]:.2f}")
PY
    printf 'pictures: framewell %s, ffmpeg %s (%s s at 25 fps is %s)\n' \
        "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/copied.avi")" \
        "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/ffmpeg-copied.avi")" \
        "$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" \
        "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%d", (e - s) * 25 + 0.5 }')"
    case $name in
        head) group_alone "$source" 25 ;;
        long-gop) group_alone "$source" 250 ;;
    esac
done
