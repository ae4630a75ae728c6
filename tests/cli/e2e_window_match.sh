#!/usr/bin/env bash
# End to end: the window on a private X server previews and saves a strip as
# PNG and as BMP in gradient and in default colour mode, and quillow-render
# renders the same settings; the files must be equal byte for byte.
#
# usage: e2e_window_match.sh path/to/quillow path/to/quillow-render
set -euo pipefail

program=$(readlink -f "$1")
script=$(readlink -f "$0")
# Kept in the environment: the common start re-runs this script with the
# window's path alone.
export QUILLOW_RENDER=${QUILLOW_RENDER:-$(readlink -f "$2")}
# shellcheck source=../app/e2e_common.sh
source "$(dirname "$script")/../app/e2e_common.sh"

face="WenQuanYi Micro Hei"

# The colour radio group, items "随机", "渐变", "默认" from the left. Right
# after the save dialog closes the window can miss a first click; a second
# one on the same item changes nothing else.
click_colours() {
    xdotool mousemove $((X + $1)) $((Y + 380)) click 1
    sleep 0.3
    xdotool click 1
}

# check MODE X: picks the colour mode at X, previews, saves both formats and
# compares each with what the command writes.
check() {
    local mode=$1 at=$2
    click_colours "$at"
    click_preview
    save 2 "$work/window-$mode"
    wait_for_file "$work/window-$mode.png"
    save 1 "$work/window-$mode"
    wait_for_file "$work/window-$mode.bmp"
    for suffix in png bmp; do
        QT_QPA_PLATFORM=offscreen "$QUILLOW_RENDER" --face "$face" --colours "$mode" \
            -o "$work/command-$mode.$suffix" "友谊的小船说翻就翻"
        if cmp "$work/window-$mode.$suffix" "$work/command-$mode.$suffix"; then
            echo "$mode $suffix: identical ($(stat -c %s "$work/command-$mode.$suffix") bytes)"
        else
            echo "$mode $suffix: the window's file and the command's differ" >&2
            exit 1
        fi
    done
}

choose_face
check gradient 505
check default 570

stop_program
