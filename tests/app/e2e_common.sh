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

# Runs "$@" every 0.2 s until it succeeds, for at most a minute; fails at
# once when the program has exited. The program works in its own time, so
# what never comes shows as the poll running out.
poll_until() {
    for ((attempt = 0; attempt < 300; ++attempt)); do
        "$@" && return 0
        kill -0 "$app_pid" 2>/dev/null || { echo "the program exited" >&2; return 1; }
        sleep 0.2
    done
    return 1
}
