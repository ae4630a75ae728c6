#!/usr/bin/env bash
# Under a memory limit the command neither hangs nor crashes: it writes its
# file (exit 0), or it says "内存不足" (exit 1) and leaves the old file as it
# was, with no temporary file; in a batch each line does the one or the
# other and the batch goes on. The limit (ulimit -v) is set for the child
# only, at sizes where conversions, palettes, encoders and fontconfig each
# ran out before; a run that is not over after two minutes has hung.
#
# The same for a WEBM video, from where FFmpeg's libraries cannot even be
# loaded up to where the encoder runs out part way; for stickers with a
# wide shadow, from just above what starting takes (fontconfig crashed
# there); and running out of memory is given up at once, not after
# millions of failed tries of the allocator (counted with strace).
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

# Written, or out of memory and the old file kept with nothing left behind.
written_or_out_of_memory() {
    local what=$1 target=$2 status=$3
    case $status in
    0) [ "$(head -c 3 "$target")" != old ] || fail "$what: exit 0 but the old file is there" ;;
    1)
        grep -q "内存不足" errors.txt || fail "$what: exit 1 saying $(cat errors.txt)"
        [ "$(cat "$target")" = old ] || fail "$what: out of memory but the file changed"
        ;;
    137) fail "$what: still running after two minutes" ;;
    *) fail "$what: exit status $status: $(cat errors.txt)" ;;
    esac
    [ "$(ls | tr '\n' ' ')" = "errors.txt $target " ] || fail "$what: left behind: $(ls)"
    rm "$target"
}

# Where FFmpeg's libraries could not be mapped, where the conversion hung
# and where libvpx ran out part way.
for run in "85000:--preset telegram --effect reveal" "195000:--effect reveal-shake --look readable" \
    "225000:--effect reveal-shake --look readable"; do
    IFS=: read -r above effect <<<"$run"
    limit=$(room "$above")
    printf 'old' >v.webm
    status=0
    # shellcheck disable=SC2086 # the options are words
    limited "$limit" --seed 11 $effect -o v.webm "友谊的小船说翻就翻了" 2>errors.txt || status=$?
    written_or_out_of_memory "WEBM at $limit KB, $effect" v.webm "$status"
done

for limit in $(seq "$floor" 1000 $(room 6000)); do
    for run in "o.png:--seed 2 --outline 12 --shadow --shadow-blur 20 --format png-alpha:晚安晚安晚安晚安晚安" \
        "o.webp:--seed 5 --effect shake --outline 8 --shadow --shadow-blur 20:越来越响越来越响啊"; do
        IFS=: read -r target options words <<<"$run"
        printf 'old' >"$target"
        status=0
        # shellcheck disable=SC2086 # the options are words
        limited "$limit" $options -o "$target" "$words" 2>errors.txt || status=$?
        written_or_out_of_memory "$target at $limit KB" "$target" "$status"
    done
done

# A process that may trace its children can count the failed mappings.
if strace -f -o /dev/null true 2>/dev/null; then
    for limit in $(room 25000) $(room 40000) $(room 55000); do
        printf 'old' >w.webp
        status=0
        timeout -s KILL 120 strace -f -c -e trace=mmap -o mmaps.txt \
            bash -c 'ulimit -v "$0"; exec "$@"' "$limit" "$render" --preset whatsapp --effect reveal-shake \
            --seed 1 -o w.webp "友谊的小船说翻就翻了" 2>errors.txt || status=$?
        failed=$(awk '$NF == "mmap" { print ($5 ~ /^[0-9]+$/) ? $5 : 0 }' mmaps.txt)
        rm mmaps.txt
        ((${failed:-0} < 10000)) || fail "WhatsApp at $limit KB: $failed failed mappings"
        written_or_out_of_memory "WhatsApp at $limit KB" w.webp "$status"
    done
else
    echo "memory limits: no ptrace here, the failed mappings are not counted"
fi

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
