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
        # The test failed on the way: what the program said may tell why.
        if [[ -s "$work/stderr" ]]; then
            echo "the program's standard error:" >&2
            cat "$work/stderr" >&2 || true
        fi
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
# An ordinary session writes nothing on standard error (stop_program checks).
"$program" 2>"$work/stderr" &
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
    if [[ -s "$work/stderr" ]]; then
        echo "the program wrote on standard error:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
}

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

# choose_face: picks the face named by $face: open the list (the face column is
# the first 200 pixels of the settings group) and type the name, which
# selects the first entry it begins. The list fills in the background: while
# its drop-down is too short to hold a few names, close it and try again.
face_list_open() {
    local popup HEIGHT=0
    xdotool mousemove $((X + 100)) $((Y + 359)) click 1
    sleep 0.3
    popup=$(xdotool search --onlyvisible --classname quillow 2>/dev/null | grep -vx "$window" | head -n 1 || true)
    [[ -n "$popup" ]] || return 1
    eval "$(xdotool getwindowgeometry --shell "$popup" | grep '^HEIGHT=')"
    ((HEIGHT > 60)) && return 0
    xdotool key Escape
    return 1
}
choose_face() {
    poll_until 60 "the font list never filled" face_list_open
    xdotool type --delay 30 "$face"
    xdotool key Return
}
