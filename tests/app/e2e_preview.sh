#!/usr/bin/env bash
# End to end: starts the real program on a private X server, presses "预览"
# with the mouse and checks that coloured characters appear in the preview
# region of a screenshot of the whole screen.
#
# usage: e2e_preview.sh path/to/quillow
set -euo pipefail

program=$(readlink -f "$1")
script=$(readlink -f "$0")
# shellcheck source=e2e_common.sh
source "$(dirname "$script")/e2e_common.sh"

if ((WIDTH != 1045 || HEIGHT != 506)); then
    echo "window is ${WIDTH}x${HEIGHT}, expected 1045x506" >&2
    exit 1
fi

# Pixels in the preview region (the top 1045 x 319 of the client area) that
# are not white.
coloured_pixels() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "1045x319+${X}+${Y}" +repage \
        -fill black +opaque white -format '%[fx:round((1-mean)*w*h)]' info:
}

# Polls until the picture has what we wait for (WANT, such as "> 2000") and
# prints the count: the program paints in its own time, and a missing paint
# shows as the poll running out.
pixel_count=
has_pixels() {
    pixel_count=$(coloured_pixels)
    eval "((pixel_count $1))"
}
wait_for_pixels() {
    poll_until 60 "preview region with $1 coloured pixels" has_pixels "$1" ||
        { echo "last count: ${pixel_count:-none}" >&2; return 1; }
    echo "$pixel_count"
}

# Before any preview the region is blank white.
wait_for_pixels "== 0" >/dev/null

click_preview

count=$(wait_for_pixels "> 2000")
echo "preview painted $count coloured pixels"
stop_program
