#!/usr/bin/env bash
# Draws the Tidewell mark (a well opening seen from above, with two waves in it) on a rounded
# blue tile and writes the application icon with every size the resource needs, 32-bit colour.
# Needs ImageMagick 6 and awk. Usage: tools/icon/make-icon.sh [output.ico]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
output="${1:-$here/../../src/app/resources/Tidewell.ico}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A wave as a closed band: a sine centre line from x0 to x1 around yc, thinning towards both
# ends. (ImageMagick 6 closes stroked open paths, so waves are drawn as filled polygons.)
wave() { # x0 x1 yc amplitude periods thickness
    awk -v x0="$1" -v x1="$2" -v yc="$3" -v a="$4" -v p="$5" -v w="$6" 'BEGIN {
        pi = 3.14159265; n = 160; points = "";
        for (i = 0; i <= n; i++) {
            t = i / n; x = x0 + (x1 - x0) * t; y = yc - a * sin(2 * pi * p * t);
            h = w / 2 * (0.3 + 0.7 * sin(pi * t) ^ 0.5);
            points = points sprintf("%.1f,%.1f ", x, y - h);
            lower[i] = sprintf("%.1f,%.1f ", x, y + h);
        }
        for (i = n; i >= 0; i--) points = points lower[i];
        printf "polygon %s", points;
    }'
}

# Master at 1024 x 1024; the tile's blues run from the header's light end to its title colour.
convert -size 1024x1024 gradient:'#5AA9EA'-'#164C82' \
    \( -size 1024x1024 xc:none -fill white -draw 'roundrectangle 24,24 999,999 210,210' \) \
    -compose DstIn -composite -compose Over \
    -draw "fill '#0B3560' stroke '#EAF4FD' stroke-width 72 circle 512,512 512,170" \
    -draw "fill white $(wave 250 774 440 42 2 78)" \
    -draw "fill '#8EC3EE' $(wave 300 724 600 34 2 60)" \
    "$work/master.png"

sizes=(16 20 24 32 40 48 64 128 256)
frames=()
for size in "${sizes[@]}"; do
    convert "$work/master.png" -filter Lanczos -resize "${size}x${size}" \
        -define png:color-type=6 "PNG32:$work/$size.png"
    frames+=("$work/$size.png")
done
convert "${frames[@]}" "$output"
echo "$output"
