#!/usr/bin/env bash
# End to end: starts the real program on a private X server, presses "预览"
# and then Ctrl+Shift+C, and reads the clipboard the way a chat program
# would: the first target offered is image/png, and that PNG is the strip
# with alpha, transparent around the characters and opaque in them; every
# other picture type offered is the strip on white.
#
# usage: e2e_clipboard.sh path/to/quillow
set -euo pipefail
[[ -n "${E2E_TRACE:-}" ]] && set -x

program=$(readlink -f "$1")
script=$(readlink -f "$0")
# shellcheck source=e2e_common.sh
source "$(dirname "$script")/e2e_common.sh"

# grep reads to the end (no -q), so xclip never dies of a closed pipe.
offers_picture() { xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -x 'image/png' >/dev/null; }

click_preview
# The pointer rests on the window, which therefore has the keyboard.
xdotool key ctrl+shift+c
poll_until 60 "the clipboard never offered image/png" offers_picture

targets=$(xclip -selection clipboard -t TARGETS -o)
echo "offered: $(tr "\n" " " <<<"$targets")"
first_picture=$(grep -m 1 '^image/' <<<"$targets")
if [[ "$first_picture" != image/png ]]; then
    echo "first picture type offered is $first_picture, expected image/png; offered: $targets" >&2
    exit 1
fi

xclip -selection clipboard -t image/png -o >"$work/copy.png"
read -r width height channels < <(identify -format '%w %h %[channels]\n' "$work/copy.png")
corner=$(convert "$work/copy.png" -format '%[fx:round(255*p{0,0}.a)]' info:)
opaque=$(convert "$work/copy.png" -alpha extract -threshold 99.9% -format '%[fx:round(mean*w*h)]' info:)
partial=$(convert "$work/copy.png" -alpha extract -fill black -opaque white -fill white +opaque black \
    -format '%[fx:round(mean*w*h)]' info:)
echo "copied ${width}x${height} $channels: corner alpha $corner, $opaque opaque, $partial partial pixels"

# The default strip: nine characters from 30 to 110 points, as tall as "我" at
# 110 points, which is well over 110 pixels.
((width > 500 && height > 110)) || { echo "copied picture is ${width}x${height}" >&2; exit 1; }
[[ "$channels" == srgba* ]] || { echo "copied picture has no alpha ($channels)" >&2; exit 1; }
((corner == 0)) || { echo "the ground is not transparent (alpha $corner)" >&2; exit 1; }
((opaque > 2000)) || { echo "only $opaque opaque pixels" >&2; exit 1; }
((partial > 200)) || { echo "only $partial partially transparent pixels: hard edges" >&2; exit 1; }

# Every other picture type is a bitmap without alpha, and shows the strip as
# saved: on white, of the PNG's size (icon types at most 256 wide, the
# largest icon), within the loss of the type (lossy JPEG, one-bit PBM and
# XBM) of the PNG flattened on white.
convert "$work/copy.png" -background white -flatten "$work/flat.png"
bitmaps=0
while read -r target; do
    [[ "$target" == image/* && "$target" != image/png ]] || continue
    suffix=${target#image/}
    xclip -selection clipboard -t "$target" -o >"$work/copy.$suffix"
    read -r w h < <(identify -format '%w %h\n' "$work/copy.$suffix[0]")
    expected_w=$width expected_h=$height tolerance=0.02 grey=() smooth=()
    case $suffix in
    cur | ico) ((width <= 256)) || { expected_w=256 expected_h=$(((height * 256 + width / 2) / width)); } ;;&
    cur | ico | pbm | xbm) tolerance=0.1 ;;&
    # Qt and ImageMagick weigh red, green and blue differently when they
    # make grey, so a saturated random colour gives a few grey levels more
    # or less.
    pgm) tolerance=0.04 ;;&
    pbm | pgm | xbm) grey=(-colorspace Gray) ;;&
    # One bit a pixel: a light colour comes out as a dither of black and
    # white dots, which only match the grey it stands for when both are
    # seen from a little way off.
    pbm | xbm) smooth=(-blur 0x2) ;;
    esac
    corner=$(convert "$work/copy.$suffix[0]" -alpha off -format '%[fx:round(255*p{0,0}.intensity)]' info:)
    convert "$work/flat.png" -resize "${w}x${h}!" "${grey[@]}" "${smooth[@]}" "$work/reference.png"
    convert "$work/copy.$suffix[0]" -alpha off "${grey[@]}" "${smooth[@]}" "$work/received.png"
    # Mean absolute error against the flattened PNG, 0..1 (compare exits 1
    # when the pictures differ at all).
    error=$({ compare -metric MAE "$work/received.png" "$work/reference.png" null: 2>&1 || true; } |
        sed 's/.*(\(.*\))/\1/')
    echo "$target: ${w}x${h}, corner $corner, mean difference $error"
    # Scaled down, the height may round either way.
    ((w == expected_w && (h - expected_h) * (h - expected_h) <= 1)) || { echo "$target is ${w}x${h}, expected ${expected_w}x${expected_h}" >&2; exit 1; }
    # A lossy type rings a few levels below white near a character.
    ((corner >= 235)) || { echo "$target has a dark ground ($corner)" >&2; exit 1; }
    awk -v e="$error" -v t="$tolerance" 'BEGIN { exit !(e < t) }' ||
        { echo "$target differs from the strip on white ($error)" >&2; exit 1; }
    ((++bitmaps))
done <<<"$targets"
((bitmaps >= 2)) || { echo "only $bitmaps other picture types offered" >&2; exit 1; }
stop_program
