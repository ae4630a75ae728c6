#!/usr/bin/env bash
# A seeded fuzz of the batch: a few thousand mixed lines, good and bad (broken
# JSON, wrong types, values out of range, unknown fields, long phrases, bad
# UTF-8, blank lines, names that cannot be written, names with NUL (escaped
# and raw), control characters or lone surrogates). Exactly one result per
# non-blank line, in order; exit status 1 as some lines fail; every file
# reported written decodes, no failed line leaves a file, nothing else (no
# temporary file) is left, and no file outside the output folder changes
# (a name cut at its NUL would reach one). Then SIGTERM and SIGINT in the middle of a
# batch that replaces files: whole JSON result lines, no temporary files, the
# Chinese line on standard error, exit 143 and 130; the parent never runs a
# second thread, which forking it would not survive. Sticker lines in between.
#
# usage: batch_fuzz.sh path/to/quillow-render
set -euo pipefail

render=$(readlink -f "$1")
# Debian's Python, which has Pillow, even where another python3 comes first.
py=$(command -v /usr/bin/python3 || command -v python3)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "$*" >&2; exit 1; }

mkdir o guard
for i in 0 1 2 3; do printf 'precious %s' "$i" >"guard/victim$i"; done
snapshot() { (cd guard && for f in *; do printf '%s ' "$f"; sha256sum <"$f"; done); }
guarded=$(snapshot)
"$py" - >lines.jsonl <<'PY'
import json, random, sys
rng = random.Random(20261210)
chars = "你好世界加油喊叫声音大家一起来吧我们AbcXyz!? "
out = sys.stdout.buffer
for i in range(2500):
    kind = rng.random()
    line = {"phrase": "".join(rng.choice(chars) for _ in range(rng.randint(1, 10))),
            "output": "o/%04d.%s" % (i, rng.choice(["png", "bmp"])),
            # Small strips keep the run short; the sizes still vary.
            "dpi": rng.choice([8, 12, 20, 30])}
    for flag in ["bold", "italic", "underline", "strike-out"]:
        if rng.random() < 0.3:
            line[flag] = True
    line["colours"] = rng.choice(["random", "gradient", "default"])
    if rng.random() < 0.5:
        line["seed"] = rng.randint(0, 2**32 - 1)
    if kind < 0.55:
        text = json.dumps(line, ensure_ascii=rng.random() < 0.5).encode()
    elif kind < 0.60:
        text = b""  # blank: no result
    elif kind < 0.62:
        text = b"   \t"
    else:
        bad = rng.choice(["json", "type", "range", "unknown", "long", "utf8", "nophrase",
                          "folder", "suffix", "array", "seed", "nul", "rawnul", "control",
                          "surrogate"])
        if bad == "json":
            text = json.dumps(line).encode()[: rng.randint(0, 40)]
        elif bad == "type":
            line[rng.choice(["bold", "phrase", "spacing"])] = [1]
            text = json.dumps(line).encode()
        elif bad == "range":
            line[rng.choice(["spacing", "dpi", "scale"])] = rng.choice([-1, 1e9, 37.5])
            text = json.dumps(line).encode()
        elif bad == "unknown":
            line["colour"] = "red"
            text = json.dumps(line).encode()
        elif bad == "long":
            line["phrase"] = "喊" * rng.randint(11, 40)
            text = json.dumps(line).encode()
        elif bad == "utf8":
            text = json.dumps(line, ensure_ascii=False).encode().replace("o/".encode(), b"o/\xff", 1)
        elif bad == "nophrase":
            del line["phrase"]
            text = json.dumps(line).encode()
        elif bad == "folder":
            line["output"] = "missing/%04d.png" % i
            text = json.dumps(line).encode()
        elif bad == "suffix":
            line["output"] = "o/%04d.jpg" % i
            text = json.dumps(line).encode()
        elif bad in ("nul", "rawnul"):
            # Cut at the NUL, the name would be a guarded file's.
            line["output"] = "o/../guard/victim%d\0%s.png" % (rng.randint(0, 3), rng.choice(["", "x"]))
            text = json.dumps(line).encode()
            if bad == "rawnul":
                text = text.replace(b"\\u0000", b"\0")
        elif bad == "control":
            # Refused by nothing: written under that very name, in o.
            line["output"] = "o/%04d%s.png" % (i, chr(rng.choice([1, 7, 9, 10, 13, 27, 31, 127])))
            text = json.dumps(line, ensure_ascii=rng.random() < 0.5).encode()
        elif bad == "surrogate":
            lone = chr(rng.choice([0xD83D, 0xDC00, 0xDBFF, 0xDFFF]))
            line["output"] = "o/%04d%s.png" % (i, rng.choice([lone, lone + "x", lone * 2]))
            text = json.dumps(line).encode()
        elif bad == "array":
            text = b"[1, 2, 3]"
        else:
            line["seed"] = rng.choice([-1, 2**32, 1e300, 0.5])
            text = json.dumps(line).encode()
    out.write(text + b"\n")
PY

status=0
"$render" --batch lines.jsonl >results.jsonl 2>errors.txt || status=$?
[ "$status" = 1 ] || fail "fuzz batch: exit status $status, expected 1"
"$py" - <<'PY'
import json, os, sys
from PIL import Image
lines = open("lines.jsonl", "rb").read().split(b"\n")[:-1]
expected = [i + 1 for i, text in enumerate(lines) if text.strip()]
results = [json.loads(r) for r in open("results.jsonl", "rb").read().decode().splitlines()]
numbers = [r["line"] for r in results]
if numbers != expected:
    sys.exit("fuzz batch: result lines %d, expected %d (or out of order)" % (len(numbers), len(expected)))
written = set()
for r in results:
    if r["ok"]:
        written.add(r["output"])
        with Image.open(r["output"]) as picture:
            picture.load()
            if picture.width < 1 or picture.height < 1:
                sys.exit("line %d: an empty picture" % r["line"])
    elif "\0" in r["output"] or any(0xD800 <= ord(c) <= 0xDFFF for c in r["output"]):
        if "文件名" not in r["error"]:
            sys.exit("line %d: a name the system would change failed otherwise: %s" % (r["line"], r["error"]))
    elif r["output"] and os.path.lexists(r["output"]):
        sys.exit("line %d failed (%s) but left %s" % (r["line"], r["error"], r["output"]))
left = {"o/" + name for name in os.listdir("o")}
if left != written:
    sys.exit("files not reported written: %s" % sorted(left - written)[:5])
if os.path.exists("missing"):
    sys.exit("a missing folder was created")
oks = len(written)
if oks < 1000 or oks == len(results):
    sys.exit("the fuzz should mix good and bad lines: %d of %d ok" % (oks, len(results)))
PY
grep -q "行失败" errors.txt || fail "fuzz batch: no summary on standard error"
[ "$(snapshot)" = "$guarded" ] || fail "fuzz batch: a file outside the output folder changed"

# Sticker lines: presets, effects, outlines, shadows, caps, and outputs named
# by several lines (under other names too). Each file is what its last
# successful line reported: its bytes, its frames as a decoder counts them,
# within its cap; a still WebP is no animation (dwebp reads it).
mkdir s
# Every preset the program offers, as its usage lists them.
presets=$("$render" --help | sed -n 's/^  --preset //p')
[ -n "$presets" ] || fail "--help lists no presets"
PRESETS=$presets "$py" - >stickers.jsonl <<'PY'
import json, os, random
rng = random.Random(20261211)
presets = os.environ["PRESETS"].split("|")
chars = "你好加油喊叫我们AbX!"
names = []
for i in range(80):
    if names and rng.random() < 0.2:
        name = rng.choice(names)
        if rng.random() < 0.5:
            name = "s/../" + name  # the same file by another name
    else:
        name = "s/%03d.%s" % (i, rng.choice(["gif", "webp", "apng", "png"]))
        names.append(name)
    line = {"phrase": "".join(rng.choice(chars) for _ in range(rng.randint(1, 5))),
            "output": name, "seed": rng.randint(0, 1000),
            "effect": rng.choice(["still", "still", "reveal", "shake", "reveal-shake"])}
    if rng.random() < 0.5:
        line["preset"] = rng.choice(presets)
    if rng.random() < 0.3:
        line["rows"] = rng.choice(["auto", 1, 2, 3, 4])
    if rng.random() < 0.5:
        line["outline"] = rng.randint(1, 12)
    if rng.random() < 0.3:
        line["shadow"] = True
    if rng.random() < 0.3:
        line["max-bytes"] = rng.choice([300, 5000, 20000, 100000])
    if name.endswith(".png") and rng.random() < 0.7:
        line["format"] = rng.choice(["png-alpha", "apng"])
    print(json.dumps(line, ensure_ascii=False))
PY
status=0
"$render" --batch stickers.jsonl >results.jsonl 2>errors.txt || status=$?
[ "$status" = 1 ] || fail "sticker batch: exit status $status, expected 1"
"$py" - <<'PY' || fail "sticker batch: results or files wrong"
import json, os, subprocess, sys
from PIL import Image
lines = [json.loads(text) for text in open("stickers.jsonl", encoding="utf-8")]
results = [json.loads(r) for r in open("results.jsonl", "rb").read().decode().splitlines()]
if [r["line"] for r in results] != list(range(1, len(lines) + 1)):
    sys.exit("not one result per line, in order")
last = {}
for r in results:
    key = os.path.normpath(lines[r["line"] - 1]["output"])
    if r["ok"]:
        last[key] = r
    if r["ok"] and "bytes" in r and "cap" in r and r["bytes"] > r["cap"]:
        sys.exit("line %d: %d bytes over its cap %d" % (r["line"], r["bytes"], r["cap"]))
oks = sum(r["ok"] for r in results)
if oks < 30 or oks == len(results):
    sys.exit("the stickers should mix good and bad lines: %d of %d ok" % (oks, len(results)))
for key, r in last.items():
    data = open(key, "rb").read()
    if "bytes" not in r:
        continue  # the window's own PNG
    if len(data) != r["bytes"]:
        sys.exit("%s: %d bytes, line %d reported %d" % (key, len(data), r["line"], r["bytes"]))
    with Image.open(key) as picture:
        frames = getattr(picture, "n_frames", 1)
        for index in range(frames):
            picture.seek(index)
            picture.load()
    if frames != r["frames"]:
        sys.exit("%s: %d frames, line %d reported %d" % (key, frames, r["line"], r["frames"]))
    if data[:4] == b"RIFF":
        tool = ["dwebp", key, "-o", "/dev/null"] if frames == 1 else ["webpinfo", "-quiet", key]
        chunks, at = [], 12
        while at + 8 <= len(data):
            size = int.from_bytes(data[at + 4:at + 8], "little")
            chunks.append(data[at:at + 4])
            at += 8 + size + (size & 1)
        if frames == 1 and (b"ANIM" in chunks or b"ANMF" in chunks):
            sys.exit("%s: a still WebP written as an animation" % key)
        if subprocess.run(tool, capture_output=True).returncode != 0:
            sys.exit("%s: %s refuses it" % (key, tool[0]))
left = {os.path.join("s", name) for name in os.listdir("s")}
if left != set(last):
    sys.exit("files without a successful line, or temporaries: %s" % sorted(left ^ set(last))[:5])
PY

# Interrupted in the middle of a batch that replaces existing files.
interrupt() {
    local signal=$1 expected=$2
    rm -rf r && mkdir r
    "$py" - <<'PY'
import json
with open("replace.jsonl", "w") as lines:
    for i in range(400):
        print(json.dumps({"phrase": "我们一起喊叫吧", "output": "r/%03d.png" % i, "seed": i}), file=lines)
        open("r/%03d.png" % i, "w").write("old")
PY
    "$render" --batch replace.jsonl >results.jsonl 2>errors.txt &
    local pid=$! status=0
    # Wait until some lines are reported, so the signal lands mid-batch.
    for _ in $(seq 1 200); do
        [ "$(wc -l <results.jsonl)" -ge 5 ] && break
        sleep 0.05
    done
    local threads
    threads=$(ls "/proc/$pid/task" | wc -l)
    [ "$threads" = 1 ] || fail "the batch process runs $threads threads while it forks"
    kill "-$signal" "$pid"
    wait "$pid" || status=$?
    [ "$status" = "$expected" ] || fail "SIG$signal: exit status $status, expected $expected"
    grep -q "已停止读入" errors.txt || fail "SIG$signal: no Chinese line on standard error"
    "$py" - <<'PY' || fail "SIG$signal: results or files wrong"
import json, os, sys
text = open("results.jsonl", "rb").read().decode()
if text and not text.endswith("\n"):
    sys.exit("the results end mid-line")
results = [json.loads(r) for r in text.splitlines()]
if not results or len(results) >= 400:
    sys.exit("%d results: the signal did not land mid-batch" % len(results))
if [r["line"] for r in results] != list(range(1, len(results) + 1)):
    sys.exit("results out of order")
names = sorted(os.listdir("r"))
if names != ["%03d.png" % i for i in range(400)]:
    sys.exit("left behind: %s" % [n for n in names if not n.endswith(".png") or len(n) != 7][:5])
for r in results:
    if not r["ok"] or open(r["output"], "rb").read(4) != b"\x89PNG":
        sys.exit("line %d reported but not written" % r["line"])
PY
}
interrupt TERM 143
interrupt INT 130
echo "fuzz and interruption: all as documented"
