#!/usr/bin/env bash
# End to end: starts the real program on a private X server, presses "预览",
# opens "保存图片" and chooses "PNG格式", types a file name without an
# extension into the save dialog and checks the file that appears: a PNG of
# the strip's size whose white ground is transparent and whose characters
# are not. Then the same through "BMP格式".
#
# usage: e2e_save.sh path/to/quillow
set -euo pipefail

program=$(readlink -f "$1")
script=$(readlink -f "$0")
# shellcheck source=e2e_common.sh
source "$(dirname "$script")/e2e_common.sh"

click_preview

save 2 "$work/strip"
wait_for_file "$work/strip.png"
read -r width height < <(identify -format '%w %h\n' "$work/strip.png")
echo "PNG: ${width}x${height}"
# The default phrase is nine characters: wider than tall, as tall as one
# 110-point character.
((width > 500 && height > 100 && height < 319)) || { echo "unexpected size" >&2; exit 1; }
corner=$(convert "$work/strip.png" -format '%[fx:p{0,0}.a]' info:)
[[ "$corner" == 0 ]] || { echo "the white ground is not transparent (alpha $corner)" >&2; exit 1; }
opaque=$(convert "$work/strip.png" -alpha extract -format '%[fx:round(mean*w*h)]' info:)
echo "PNG: $opaque opaque pixels"
((opaque > 2000)) || { echo "the characters are missing" >&2; exit 1; }

save 1 "$work/strip"
wait_for_file "$work/strip.bmp"
read -r bwidth bheight < <(identify -format '%w %h\n' "$work/strip.bmp")
echo "BMP: ${bwidth}x${bheight}"
((bwidth == width && bheight == height)) || { echo "BMP and PNG sizes differ" >&2; exit 1; }

stop_program
