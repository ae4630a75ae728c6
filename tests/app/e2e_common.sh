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
# A file system the script mounted inside $work, unmounted on exit.
mounted=
# Runs under `set -e` from the exit trap: no step may stop the later ones.
cleanup() {
    if [[ -n "$app_pid" ]]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    if [[ -n "$mounted" ]]; then
        umount "$mounted" || echo "could not unmount $mounted" >&2
    fi
    rm -rf "$work" || true
}
trap cleanup EXIT

# poll_until SECONDS WHAT COMMAND...: runs COMMAND (in this shell, so it may
# set variables) every 0.2 s until it succeeds. Fails, saying that WHAT never
# happened, once SECONDS have passed, and at once if the program has exited.
poll_until() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        if [[ -n "$app_pid" ]] && ! kill -0 "$app_pid" 2>/dev/null; then
            echo "the program exited while waiting: $what" >&2
            return 1
        fi
        if ((SECONDS >= deadline)); then
            echo "gave up after ${seconds}s: $what" >&2
            return 1
        fi
        sleep 0.2
    done
}

# find_window TITLE: sets `found` to a visible window titled exactly TITLE.
# xdotool's --name ignores case, so its answers are checked one by one.
find_window() {
    local title=$1 id
    found=
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
        if [[ "$(xdotool getwindowname "$id" 2>/dev/null)" == "$title" ]]; then
            found=$id
            return 0
        fi
    done
    return 1
}

unset QT_QPA_PLATFORM
"$program" &
app_pid=$!

poll_until 60 "the main window never appeared" find_window Quillow
window=$found
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
