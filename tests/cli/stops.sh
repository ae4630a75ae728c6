#!/usr/bin/env bash
# Stopping. A single run told to stop by SIGTERM or SIGINT, from the moment
# it handles them, leaves the old file as it was and no temporary file,
# says so in its own words and exits 143 or 130. A batch line whose process
# stops answering (here: stopped by SIGSTOP) is killed after the line time
# limit and reported; the lines after it are still written.
#
# A signal that comes once the new files have taken their names is too
# late to keep the old ones: the run says the files were written (and still
# exits 143), for one file and for a set of tiles. rename_then_stop, the
# second argument, is preloaded to raise SIGTERM at that moment.
#
# usage: stops.sh path/to/quillow-render path/to/rename_then_stop.so
set -euo pipefail

shim=$(readlink -f "$2")
# shellcheck source=scratch_common.sh
source "$(dirname "$(readlink -f "$0")")/scratch_common.sh"

# Waits until process $1 handles signal number $2 (bit $2 - 1 of SigCgt).
wait_for_handler() {
    local mask
    for _ in $(seq 1 2000); do
        mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
        [ -n "$mask" ] && (((0x$mask >> ($2 - 1)) & 1)) && return 0
        sleep 0.01
    done
    return 1
}

# Ten characters, every effect and a tight cap: seconds of work, so the
# signal lands while the sticker is being made.
for stop in TERM:15:143:终止信号（SIGTERM） INT:2:130:中断信号（SIGINT）; do
    IFS=: read -r name number expected words <<<"$stop"
    printf 'old picture' >s.webp
    "$render" --seed 1 --effect reveal-shake --outline 12 --shadow --max-bytes 30000 -o s.webp \
        "友谊的小船说翻就翻啊" 2>errors.txt &
    pid=$!
    wait_for_handler "$pid" "$number" || fail "SIG$name: the command never handled it"
    kill "-$name" "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" = "$expected" ] || fail "SIG$name: exit status $status, expected $expected"
    grep -q "收到${words}，已停止：没有写出文件" errors.txt || fail "SIG$name: said $(cat errors.txt)"
    [ "$(cat s.webp)" = "old picture" ] || fail "SIG$name: the old file was replaced"
    [ "$(ls | tr '\n' ' ')" = "errors.txt s.webp " ] || fail "SIG$name: left behind: $(ls)"
done

# The files as they are after the signal, and what the run said.
for run in "s.png:s.png" "t.png:t_1.png t_2.png:--preset discord-emoji --tiles 2x1"; do
    IFS=: read -r output files options <<<"$run"
    for file in $files; do printf 'old picture' >"$file"; done
    status=0
    # shellcheck disable=SC2086 # the options are words
    LD_PRELOAD=$shim ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
        "$render" --seed 1 $options -o "$output" 喊叫 >/dev/null 2>errors.txt || status=$?
    [ "$status" = 143 ] || fail "SIGTERM after renaming $files: exit status $status: $(cat errors.txt)"
    grep -q "收到终止信号（SIGTERM）时文件已经写完" errors.txt ||
        fail "SIGTERM after renaming $files: said $(cat errors.txt)"
    ! grep -q "没有写出文件" errors.txt || fail "SIGTERM after renaming $files: said $(cat errors.txt)"
    for file in $files; do
        [ "$(head -c 4 "$file")" = $'\x89PNG' ] || fail "SIGTERM after renaming: $file is not the new file"
        rm "$file"
    done
done
rm errors.txt

printf '%s\n' '{"phrase": "友谊的小船说翻就翻啊", "output": "slow.gif", "effect": "reveal-shake", "outline": 12}' \
    '{"phrase": "喊", "output": "quick.png", "seed": 1}' >lines.jsonl
QUILLOW_LINE_TIMEOUT=3 "$render" --batch lines.jsonl >results.jsonl 2>errors.txt &
batch=$!
child=
for _ in $(seq 1 2000); do
    child=$(pgrep -P "$batch" | head -n 1) && [ -n "$child" ] && break
    sleep 0.01
done
[ -n "$child" ] || fail "the batch started no process for its first line"
kill -STOP "$child"
status=0
wait "$batch" || status=$?
[ "$status" = 1 ] || fail "batch with a stopped line: exit status $status, expected 1"
grep -q '^{"line":1,"output":"slow.gif","ok":false,"error":"渲染这一行的进程 3 秒内没有完成，已被终止' results.jsonl ||
    fail "the stopped line: $(cat results.jsonl)"
grep -q '^{"line":2,"output":"quick.png","ok":true}$' results.jsonl || fail "the quick line: $(cat results.jsonl)"
[ ! -e slow.gif ] || fail "the stopped line left slow.gif"
[ "$(ls | tr '\n' ' ')" = "errors.txt lines.jsonl quick.png results.jsonl s.webp " ] || fail "left behind: $(ls)"
echo "stopping: single runs keep the old file, a line that stops answering is ended"
