# Shared start of the end-to-end scripts; sourced, not run. Re-runs the
# calling script on a private X server, starts the real program there, waits
# for its main window and sets X, Y (its client area's top-left on the
# screen) and window. The program is ended and the work folder removed when
# the script exits.
#
# The caller sets `program` to the binary's path and `script` to its own.

if [[ -z "${QUILLOW_E2E_INSIDE:-}" ]]; then
    export QUILLOW_E2E_INSIDE=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$script" "$program"
fi

work=$(mktemp -d)
app_pid=
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

unset QT_QPA_PLATFORM
"$program" &
app_pid=$!

window=$(xdotool search --sync --onlyvisible --name '^Quillow$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"

# Buttons sit in the settings panel, which starts 319 pixels down the client
# area: "预览" at 614, 66 (67 x 25), "保存图片" at 720, 66 (101 x 25).
# No --sync: the pointer may already rest on the button, and xdotool would
# then wait for a motion that never comes.
click_preview() { xdotool mousemove $((X + 614 + 33)) $((Y + 319 + 66 + 12)) click 1; }
click_save() { xdotool mousemove $((X + 720 + 50)) $((Y + 319 + 66 + 12)) click 1; }

stop_program() {
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=
}

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
