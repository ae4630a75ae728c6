#!/usr/bin/env bash
# Under a memory limit the command neither hangs nor crashes: it writes its
# file (exit 0), or it says "内存不足" (exit 1) and leaves the old file as it
# was, with no temporary file; in a batch each line does the one or the
# other and the batch goes on. The limit (ulimit -v) is set for the child
# only, at sizes where conversions, palettes, encoders and fontconfig each
# ran out before; a run that is not over after two minutes has hung.
#
# Not run under AddressSanitizer, which reserves far more address space
# than any of these limits.
#
# usage: memory_limits.sh path/to/quillow-render
set -euo pipefail

# shellcheck source=scratch_common.sh
source "$(dirname "$(readlink -f "$0")")/scratch_common.sh"

limited() {
    local limit=$1
    shift
    timeout -s KILL 120 bash -c 'ulimit -v "$0"; exec "$@"' "$limit" "$render" "$@"
}

# The limits are room above what merely loading the program and its
# libraries takes (the video encoder's libraries alone map a hundred
# megabytes or more), found first in steps of 5,000 KB.
floor=50000
until bash -c 'ulimit -v "$0"; exec "$@"' "$floor" "$render" --version >/dev/null 2>&1; do
    floor=$((floor + 5000))
    ((floor < 2000000)) || fail "quillow-render --version does not start even under 2,000,000 KB"
done
room() { echo $((floor + $1)); }

heavy=(--seed 1 --effect reveal-shake --outline 12 --shadow)
phrase="友谊的小船说翻就翻啊"
for limit in $(room 40000) $(room 50000) $(room 60000) $(room 70000) $(room 85000) $(room 100000) $(room 120000) $(room 150000); do
    for output in h.gif h.webp h.apng "h.png --format png-alpha"; do
        read -r -a target <<<"$output"
        effect=("${heavy[@]}")
        [[ "$output" == *png-alpha ]] && effect=(--seed 1 --outline 12 --shadow)
        printf 'old' >"${target[0]}"
        status=0
        limited "$limit" "${effect[@]}" -o "${target[@]}" "$phrase" 2>errors.txt || status=$?
        case $status in
        0) [ "$(head -c 3 "${target[0]}")" != old ] || fail "$limit KB, $output: exit 0 but the old file is there" ;;
        1)
            grep -q "内存不足" errors.txt || fail "$limit KB, $output: exit 1 saying $(cat errors.txt)"
            [ "$(cat "${target[0]}")" = old ] || fail "$limit KB, $output: out of memory but the file changed"
            ;;
        137) fail "$limit KB, $output: still running after two minutes" ;;
        *) fail "$limit KB, $output: exit status $status: $(cat errors.txt)" ;;
        esac
        [ "$(ls | tr '\n' ' ')" = "errors.txt ${target[0]} " ] || fail "$limit KB, $output: left behind: $(ls)"
        rm "${target[0]}"
    done
done

printf '%s\n' '{"phrase": "友谊的小船说翻就翻啊", "output": "a.gif", "effect": "reveal-shake", "outline": 12, "shadow": true}' \
    '{"phrase": "友谊的小船说翻就翻啊", "output": "b.webp", "effect": "reveal", "outline": 6}' \
    '{"phrase": "喊", "output": "c.png"}' \
    '{"phrase": "友谊的小船说翻就翻啊", "output": "d.apng", "effect": "shake", "shadow": true}' >lines.jsonl
for limit in $(room 60000) $(room 90000); do
    status=0
    limited "$limit" --batch lines.jsonl >results.jsonl 2>errors.txt || status=$?
    [ "$status" = 0 ] || [ "$status" = 1 ] || fail "batch at $limit KB: exit status $status: $(cat errors.txt)"
    [ "$(grep -c '^{"line":' results.jsonl)" = 4 ] || fail "batch at $limit KB: $(cat results.jsonl)"
    if grep -v '"ok":true' results.jsonl | grep -qv '"error":"内存不足'; then
        fail "batch at $limit KB: a line failed otherwise: $(cat results.jsonl)"
    fi
    rm -f results.jsonl errors.txt a.gif b.webp c.png d.apng
    [ "$(ls)" = lines.jsonl ] || fail "batch at $limit KB: left behind: $(ls)"
done
echo "memory limits: every run written or out of memory, none hung"
