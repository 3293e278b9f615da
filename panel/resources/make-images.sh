#!/usr/bin/env bash
# Draws the panel's window icon (16 and 32 px) and its 350 x 44 banner with
# ImageMagick. The PNGs are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"

violet='#8a2be2'
blue='#1e50ff'
slateBlue='#483d8b'
lightGrey='#d9d9d9'

# A double-headed arrow from lower left to upper right, centred in a square
# of the given size, as ImageMagick polygon points.
arrowPoints() {
    awk -v s="$1" 'BEGIN {
        c = s / 2; L = s * 0.44; h = s * 0.30; hw = s * 0.20; w = s * 0.065
        if (w < 1) w = 1
        n = 0
        u[++n] = -L;    v[n] = 0
        u[++n] = -L + h; v[n] = -hw
        u[++n] = -L + h; v[n] = -w
        u[++n] = L - h;  v[n] = -w
        u[++n] = L - h;  v[n] = -hw
        u[++n] = L;      v[n] = 0
        u[++n] = L - h;  v[n] = hw
        u[++n] = L - h;  v[n] = w
        u[++n] = -L + h; v[n] = w
        u[++n] = -L + h; v[n] = hw
        r = sqrt(0.5)
        # along (1,-1), across (1,1): screen y grows downwards
        for (i = 1; i <= n; ++i)
            printf "%.2f,%.2f ", c + (u[i] + v[i]) * r, c + (-u[i] + v[i]) * r
    }'
}

# The arrow shaded from violet (lower left) to blue (upper right) on transparency.
arrow() {
    local size=$1 out=$2
    convert -size "${size}x${size}" -define gradient:direction=NorthEast "gradient:${violet}-${blue}" \
        \( -size "${size}x${size}" xc:black -fill white -draw "polygon $(arrowPoints "$size")" \) \
        -alpha off -compose CopyOpacity -composite -depth 8 "$out"
}

arrow 16 icon-16.png
arrow 32 icon-32.png
arrow 40 banner-arrow.png

convert -size 350x44 "xc:${lightGrey}" \
    banner-arrow.png -geometry +4+2 -compose Over -composite \
    -font Liberation-Sans-Bold -pointsize 15 -fill "${slateBlue}" \
    -annotate +50+28 'KVX-340 Stepper Motor Control Panel' \
    -depth 8 -type TrueColor -define png:color-type=2 banner.png
rm banner-arrow.png
