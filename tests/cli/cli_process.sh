#!/usr/bin/env bash
# The real quillow-render process: it runs with no display and no platform
# chosen, its exit statuses reach the shell, bad input leaves no file, and a
# batch read from standard input reports each line.
#
# usage: cli_process.sh path/to/quillow-render
set -euo pipefail

render=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# As on a server: no display, no platform chosen, no desktop session.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR "$render" "$@"; }
fail() { echo "$*" >&2; exit 1; }

run --seed 3 -o strip.png "友谊的小船" 2>chatter.txt || fail "a plain render failed"
[[ ! -s chatter.txt ]] || fail "a good render wrote to standard error: $(cat chatter.txt)"
[[ "$(head -c 4 strip.png | tail -c 3)" == PNG ]] || fail "strip.png is not a PNG"

status=0
run --spacing 40 -o bad.png "我" 2>errors.txt || status=$?
((status == 2)) || fail "bad input exited with $status, not 2"
grep -q -- "--spacing" errors.txt || fail "the message does not name the option"
[[ ! -e bad.png ]] || fail "bad input left a file"

status=0
printf '%s\n' '{"phrase": "我们", "output": "a.bmp"}' 'oops' '{"phrase": "喊", "output": "b.png", "seed": 1}' |
    run --batch - >results.txt 2>/dev/null || status=$?
((status == 1)) || fail "a batch with a bad line exited with $status, not 1"
[[ "$(cut -c1-30 results.txt)" == $'{"line":1,"output":"a.bmp","ok\n{"line":2,"output":"","ok":fal\n{"line":3,"output":"b.png","ok' ]] ||
    fail "unexpected results: $(cat results.txt)"
[[ -s a.bmp && -s b.png ]] || fail "the good lines were not written"
echo "quillow-render: plain render, bad input and batch behave"
