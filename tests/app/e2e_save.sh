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


# Waits for a file to appear and stop growing; the program writes it in its
# own time, and a file that never comes shows as the poll running out.
wait_for_file() {
    local path=$1
    for ((attempt = 0; attempt < 300; ++attempt)); do
        [[ -s "$path" ]] && return 0
        kill -0 "$app_pid" 2>/dev/null || { echo "the program exited" >&2; return 1; }
        sleep 0.2
    done
    echo "$path was never written" >&2
    return 1
}

# Waits until the save dialog ("另存为", Qt's own dialog in Chinese) is shown,
# and until it has gone again after the file name was confirmed.
wait_for_dialog() {
    local dialog
    dialog=$(timeout 60 xdotool search --sync --onlyvisible --name '^另存为$' | head -n 1) ||
        { echo "the save dialog never opened" >&2; return 1; }
    # Keys go to the focused window: wait until that is the dialog.
    for ((attempt = 0; attempt < 300; ++attempt)); do
        [[ "$(xdotool getwindowfocus)" == "$dialog" ]] && return 0
        sleep 0.2
    done
    echo "the save dialog never took the focus" >&2
    return 1
}
wait_for_dialog_closed() {
    for ((attempt = 0; attempt < 300; ++attempt)); do
        xdotool search --onlyvisible --name '^另存为$' >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    echo "the save dialog never closed" >&2
    return 1
}

# Waits until the format menu is open: a second visible window of the
# program beside the main one.
wait_for_menu() {
    for ((attempt = 0; attempt < 300; ++attempt)); do
        (($(xdotool search --onlyvisible --classname quillow 2>/dev/null | wc -l) >= 2)) && return 0
        sleep 0.2
    done
    echo "the format menu never opened" >&2
    return 1
}

# save ENTRY_DOWNS NAME: opens the format menu, picks the entry that many
# Down presses away, and types NAME into the dialog's file name field.
save() {
    local downs=$1 name=$2
    click_save
    wait_for_menu
    for ((i = 0; i < downs; ++i)); do xdotool key --delay 100 Down; done
    xdotool key Return
    wait_for_dialog
    xdotool key ctrl+a
    xdotool type --delay 20 "$name"
    xdotool key Return
    wait_for_dialog_closed
}

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
