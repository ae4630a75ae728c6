#!/usr/bin/env bash
# Every file of a batch depends only on its own line: 200 mixed lines (faces,
# styles with italic, spacing, alignments, colour modes with seeds, formats,
# dpi) give the same bytes in input order, reversed and shuffled, on one core
# and on all, read from a file, a pipe and a FIFO, and each line on its own.
#
# usage: batch_identity.sh path/to/quillow-render
set -euo pipefail

# shellcheck source=scratch_common.sh
source "$(dirname "$(readlink -f "$0")")/scratch_common.sh"

python3 - >lines.jsonl <<'PY'
import json, random
rng = random.Random(7)
faces = ["WenQuanYi Micro Hei", "DejaVu Sans", "DejaVu Serif"]
chars = "你好世界加油喊叫声音大家一起来吧我们的小船说翻就翻AbcXyz!?gjq"
for i in range(200):
    line = {"phrase": "".join(rng.choice(chars) for _ in range(rng.randint(1, 10))),
            "output": "o/%03d.%s" % (i, rng.choice(["png", "bmp", "png"])),
            "face": rng.choice(faces)}
    for flag in ["bold", "italic", "underline", "strike-out"]:
        if rng.random() < 0.4:
            line[flag] = True
    if rng.random() < 0.5:
        line["spacing"] = rng.randint(0, 36)
    line["halign"] = rng.choice(["left", "centre", "right"])
    line["valign"] = rng.choice(["top", "middle", "bottom"])
    line["colours"] = rng.choice(["random", "gradient", "default"])
    line["seed"] = rng.randint(0, 2**32 - 1)
    if rng.random() < 0.2:
        line["format"] = "png-alpha"
        line["output"] = "o/%03d.png" % i
    if rng.random() < 0.1:
        line["dpi"] = rng.choice([72, 120, 144])
    print(json.dumps(line, ensure_ascii=False))
PY
tac lines.jsonl >reversed.jsonl
python3 -c 'import random,sys; l=open("lines.jsonl").readlines(); random.Random(3).shuffle(l); sys.stdout.write("".join(l))' >shuffled.jsonl

# Runs one batch into a fresh o/ and keeps the checksums under $1.
sums() {
    local name=$1
    shift
    rm -rf o && mkdir o
    "$@" >/dev/null || fail "$name: the batch failed"
    (cd o && md5sum -- *) >"$name.md5"
}

rm -rf o && mkdir o
while IFS= read -r line; do printf '%s\n' "$line" | "$render" --batch - >/dev/null; done <lines.jsonl
(cd o && md5sum -- *) >alone.md5
[[ $(wc -l <alone.md5) == 200 ]] || fail "not every line alone wrote its file"

all=$(nproc)
sums forward-one taskset -c 0 "$render" --batch lines.jsonl
sums forward-all "$render" --batch lines.jsonl
sums reversed-one taskset -c 0 "$render" --batch reversed.jsonl
sums reversed-all "$render" --batch - <reversed.jsonl
sums shuffled-one taskset -c 0 "$render" --batch /dev/stdin <shuffled.jsonl
sums shuffled-all "$render" --batch <(cat shuffled.jsonl)
mkfifo fifo
cat shuffled.jsonl >fifo &
sums shuffled-fifo "$render" --batch fifo
for run in forward-one forward-all reversed-one reversed-all shuffled-one shuffled-all shuffled-fifo; do
    diff alone.md5 "$run.md5" >/dev/null || fail "$run differs from each line alone ($all cores): $(diff alone.md5 "$run.md5" | head -4)"
done
echo "200 lines: the same bytes alone, in any order, on one core and on $all, from a file, a pipe and a FIFO"
