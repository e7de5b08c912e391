#!/usr/bin/env bash
# Renders the drawn SVG sources of res/ into the PNG images the program loads (it prefers a
# .png beside its .svg), and the desktop icon sizes installed for the application menu.
# Needs ffmpeg built with librsvg (Debian's is). Run from anywhere: res/render_images.sh
set -euo pipefail
cd "$(dirname "$0")"

render() {  # render SOURCE.svg OUTPUT.png SIZE
    ffmpeg -hide_banner -loglevel error -y -width "$3" -height "$3" -i "$1" \
        -frames:v 1 -pix_fmt rgba "$2"
}

for svg in icons/*.svg cursors/*.svg; do
    render "$svg" "${svg%.svg}.png" 32
done
for svg in bitmaps/*.svg; do
    # A tile keeps the size it is drawn at.
    ffmpeg -hide_banner -loglevel error -y -i "$svg" -frames:v 1 -pix_fmt rgba "${svg%.svg}.png"
done

# The application's icon in the desktop's usual sizes; the SVG itself is the scalable one.
for size in 16 24 32 48 64 128 256; do
    mkdir -p "desktop/hicolor/${size}x${size}"
    render icons/128.svg "desktop/hicolor/${size}x${size}/framewell.png" "$size"
done
# The help pages show it beside their title.
mkdir -p ../help/images
render icons/128.svg ../help/images/framewell.png 32
ls -l icons/*.png cursors/*.png bitmaps/*.png desktop/hicolor/*/framewell.png
