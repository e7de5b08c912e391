#!/usr/bin/env bash
# Renders the application's drawn icon into the PNG sizes installed for the application menu
# and shown by the help pages. The program itself draws its icons, cursor and background from
# the SVG sources, at the screen's pixel density.
# Needs ffmpeg built with librsvg (Debian's is). Run from anywhere: res/render_images.sh
set -euo pipefail
cd "$(dirname "$0")"

render() {  # render SOURCE.svg OUTPUT.png SIZE
    ffmpeg -hide_banner -loglevel error -y -width "$3" -height "$3" -i "$1" \
        -frames:v 1 -pix_fmt rgba "$2"
}

# The application's icon in the desktop's usual sizes; the SVG itself is the scalable one.
for size in 16 24 32 48 64 128 256; do
    mkdir -p "desktop/hicolor/${size}x${size}"
    render icons/program_128.svg "desktop/hicolor/${size}x${size}/framewell.png" "$size"
done
# The help pages show it beside their title.
mkdir -p ../help/images
render icons/program_128.svg ../help/images/framewell.png 32
ls -l desktop/hicolor/*/framewell.png ../help/images/framewell.png
