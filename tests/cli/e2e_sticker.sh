#!/usr/bin/env bash
# End to end: the window on a private X server previews a gradient strip,
# Ctrl+E opens "导出贴纸" with its first-time choices (微信, 逐字出现,
# the readable look: a 3-pixel white outline with a dark rim), Return saves, and the file is checked against
# what quillow-render writes for the same options (the window's stickers
# shake with seed 1). Once the command line makes animated stickers, the file
# must be an animated GIF within WeChat's limits (1 MiB, 1000 pixels);
# before that, the sticker is the still PNG with alpha.
#
# usage: e2e_sticker.sh path/to/quillow path/to/quillow-render
set -euo pipefail

program=$(readlink -f "$1")
script=$(readlink -f "$0")
export QUILLOW_RENDER=${QUILLOW_RENDER:-$(readlink -f "$2")}
if [[ -n "${QUILLOW_E2E_INSIDE:-}" ]]; then
    # Settings and cache of this run only, so the dialog opens with its
    # first-time choices.
    home=$(mktemp -d)
    export XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
fi
# shellcheck source=../app/e2e_common.sh
source "$(dirname "$script")/../app/e2e_common.sh"
trap 'cleanup; rm -rf "$home"' EXIT

face="WenQuanYi Micro Hei"
phrase="友谊的小船说翻就翻"

choose_face
# "渐变" in the colour group.
xdotool mousemove $((X + 505)) $((Y + 380)) click 1
click_preview

xdotool key ctrl+e
poll_until 60 "the sticker dialog never opened" find_window 导出贴纸
sticker_dialog=$found
poll_until 60 "the sticker dialog never took the focus" focused_is "$sticker_dialog"
xdotool key Return
wait_for_dialog
xdotool key ctrl+a
xdotool type --delay 20 "$work/sticker"
xdotool key Return
poll_until 60 "the save dialog never closed" dialog_closed

saved_file() {
    for saved in "$work"/sticker.gif "$work"/sticker.png; do
        [[ -e "$saved" ]] && file_settled "$saved" && return 0
    done
    return 1
}
poll_until 60 "no sticker was saved" saved_file
bytes=$(stat -c %s "$saved")
frames=$(identify "$saved" | wc -l)
read -r width height < <(identify -format '%w %h\n' "$saved[0]")
echo "saved $(basename "$saved"): ${width}x${height}, $frames frames, $bytes bytes"

if QT_QPA_PLATFORM=offscreen "$QUILLOW_RENDER" --help | grep -q -- '--effect'; then
    [[ "$saved" == *.gif && "$(head -c 6 "$saved")" == GIF89a ]] || { echo "not a GIF" >&2; exit 1; }
    ((frames > 1)) || { echo "the GIF does not animate" >&2; exit 1; }
    ((bytes <= 1024 * 1024)) || { echo "over WeChat's 1 MiB" >&2; exit 1; }
    ((width <= 1000 && height <= 1000)) || { echo "over WeChat's 1000 pixels" >&2; exit 1; }
    command_options=(--preset wechat --effect reveal --look readable --seed 1)
else
    [[ "$(head -c 4 "$saved" | tail -c 3)" == PNG ]] || { echo "not a PNG" >&2; exit 1; }
    command_options=(--format png-alpha)
fi
suffix=${saved##*.}
QT_QPA_PLATFORM=offscreen "$QUILLOW_RENDER" --face "$face" --colours gradient "${command_options[@]}" \
    -o "$work/command.$suffix" "$phrase"
cmp "$saved" "$work/command.$suffix" || { echo "the window's sticker and the command's differ" >&2; exit 1; }
echo "identical to quillow-render ${command_options[*]}"

stop_program
