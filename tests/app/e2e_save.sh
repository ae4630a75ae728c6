#!/usr/bin/env bash
# End to end: starts the real program on a private X server, presses "预览",
# opens "保存图片" and chooses "PNG格式", types a file name without an
# extension into the save dialog and checks the file that appears: a PNG of
# the strip's size whose white ground is transparent and whose characters
# are not. Then the same through "BMP格式"; last, "PNG格式" once more over an
# existing file on a full disk.
#
# usage: e2e_save.sh path/to/quillow
set -euo pipefail

program=$(readlink -f "$1")
script=$(readlink -f "$0")
# A mount namespace of its own, where the system allows one, so that the
# full-disk test's tmpfs disappears with the test even if it is killed
# before it can unmount.
if [[ -z "${QUILLOW_E2E_NAMESPACE:-}" ]] && unshare --mount --propagation private true 2>/dev/null; then
    export QUILLOW_E2E_NAMESPACE=1
    exec unshare --mount --propagation private "$script" "$program"
fi
# shellcheck source=e2e_common.sh
source "$(dirname "$script")/e2e_common.sh"


# Waits for a file to appear and its size to stop changing: the program
# writes it in its own time. Settled means the same non-zero size on two
# polls in a row.
last_size=
file_settled() {
    local size
    size=$(stat -c %s "$1" 2>/dev/null) || return 1
    if [[ "$size" != 0 && "$size" == "$last_size" ]]; then
        last_size=
        return 0
    fi
    last_size=$size
    return 1
}
wait_for_file() {
    poll_until 60 "$1 was never written completely" file_settled "$1"
}

focused_is() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$1" ]]; }
focused_is_not() { ! focused_is "$1"; }
dialog_closed() { ! find_window 另存为; }

# Waits until the save dialog ("另存为", Qt's own dialog in Chinese) is shown
# and has the focus (keys go to the focused window); sets `dialog`.
wait_for_dialog() {
    poll_until 60 "the save dialog never opened" find_window 另存为
    dialog=$found
    poll_until 60 "the save dialog never took the focus" focused_is "$dialog"
}

# Waits until the format menu is open: a second visible window of the
# program beside the main one.
menu_open() { (($(xdotool search --onlyvisible --classname quillow 2>/dev/null | wc -l) >= 2)); }

# save ENTRY_DOWNS NAME [replace]: opens the format menu, picks the entry
# that many Down presses away, and types NAME into the dialog's file name
# field. With "replace", answers the question whether to replace the
# existing file with yes ("是(&Y)").
save() {
    local downs=$1 name=$2 replace=${3:-}
    click_save
    poll_until 60 "the format menu never opened" menu_open
    for ((i = 0; i < downs; ++i)); do xdotool key --delay 100 Down; done
    xdotool key Return
    wait_for_dialog
    xdotool key ctrl+a
    xdotool type --delay 20 "$name"
    xdotool key Return
    if [[ "$replace" == replace ]]; then
        poll_until 60 "no question about replacing the file" focused_is_not "$dialog"
        xdotool key y
    fi
    poll_until 60 "the save dialog never closed" dialog_closed
}

# A full disk through the real window: the save over an existing file fails,
# the error box appears, and the old file keeps every byte and its inode with
# nothing left beside it. The disk is a small tmpfs of our own with room for
# only part of the picture, so the write fails in the middle.
full_disk_save() {
    local disk=$work/disk
    mkdir "$disk"
    if ! mount -t tmpfs -o size=1m tmpfs "$disk" 2>"$work/mount-error"; then
        echo "SKIP full-disk save: this system does not let the test mount a tmpfs ($(<"$work/mount-error"))"
        return 0
    fi
    mounted=$disk
    for ((i = 0; i < 100; ++i)); do echo "the picture saved last time"; done >"$disk/strip.png"
    cp "$disk/strip.png" "$work/old.png"
    local inode free
    inode=$(stat -c %i "$disk/strip.png")
    free=$(df --output=avail -B1 "$disk" | tail -n 1)
    head -c $((free - 4096)) /dev/zero >"$disk/filler"

    save 2 "$disk/strip" replace
    poll_until 60 "no error box (a window titled quillow)" find_window quillow
    cmp "$work/old.png" "$disk/strip.png" || { echo "the old file was changed" >&2; exit 1; }
    [[ "$(stat -c %i "$disk/strip.png")" == "$inode" ]] || { echo "the old file was replaced" >&2; exit 1; }
    [[ "$(ls -A "$disk")" == $'filler\nstrip.png' ]] || { echo "left behind: $(ls -A "$disk")" >&2; exit 1; }
    echo "full disk: the old file is kept and the error is shown"
    xdotool key Return
    poll_until 60 "the error box never closed" eval '! find_window quillow'
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

full_disk_save

stop_program
