"""Makes every chat preset's sticker with every effect and five kinds of
phrase in one batch, and checks each file against the app's published rules
with readers that share nothing with ours: Pillow for PNG, APNG, GIF and
WebP, ffprobe for WEBM.

    preset_rules.py QUILLOW_RENDER

Each preset has one row below, written from the app's own limits. A preset
that quillow-render offers without a row here fails the test, so a new
chat app comes with its rules checked.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

from PIL import Image

SQUARE, LONGEST, AT_MOST = "square", "longest exactly", "at most"
# A box's side is (width, height); both sides even. FILLS_BOX: one side at
# its limit.
WITHIN_BOX, FILLS_BOX = "within box", "filling box"

# name: still (suffix, size rule, side, cap), animated (suffix, size rule,
# side, cap), and for the animation: most frames, shortest frame in ms,
# longest play in ms.
PRESETS = {
    "wechat": (("png", AT_MOST, 1000, 1024 * 1024), ("gif", AT_MOST, 1000, 1024 * 1024), None, 0, 0),
    "qq": (("png", AT_MOST, 1000, 1024 * 1024), ("gif", AT_MOST, 1000, 1024 * 1024), None, 0, 0),
    "telegram": (("png", LONGEST, 512, 512_000), ("webm", LONGEST, 512, 256_000), None, 0, 3000),
    "telegram-emoji": (("png", SQUARE, 100, 256_000), ("webm", SQUARE, 100, 256_000), None, 0, 3000),
    "whatsapp": (("webp", SQUARE, 512, 100_000), ("webp", SQUARE, 512, 500_000), None, 8, 10_000),
    "discord-emoji": (("png", SQUARE, 128, 256 * 1024), ("gif", SQUARE, 128, 256 * 1024), None, 0, 0),
    "discord-sticker": (("png", SQUARE, 320, 512 * 1024), ("apng", SQUARE, 320, 512 * 1024), None, 0, 0),
    "slack": (("png", SQUARE, 128, 128_000), ("gif", SQUARE, 128, 128_000), 50, 0, 0),
    "line": (("png", WITHIN_BOX, (370, 320), 1_000_000), ("apng", FILLS_BOX, (320, 270), 300_000), 20, 0, 0),
}

# For an app that plays an animation a few times and then shows its first
# frame: fewest frames, most plays, longest all plays together in ms.
FINITE_PLAYS = {"line": (5, 4, 4000)}
# Clear pixels the still keeps inside every edge.
STILL_MARGINS = {"line": 10}

EFFECTS = ["still", "reveal", "shake", "reveal-shake"]
PHRASES = {
    "chinese": "友谊的小船说翻就",
    "latin": "Shout it",
    "emoji": "加油💪🔥",
    "one": "喊",
    "ten": "友谊的小船说翻就翻了",
}
SIGNATURES = {
    "png": b"\x89PNG\r\n\x1a\n",
    "apng": b"\x89PNG\r\n\x1a\n",
    "gif": b"GIF89a",
    "webm": b"\x1a\x45\xdf\xa3",
}


def offered_presets(render):
    usage = subprocess.run([render, "--help"], capture_output=True, text=True, check=True).stdout
    line = re.search(r"--preset (\S+)", usage)
    return line.group(1).split("|")


def size_keeps(rule, side, size):
    width, height = size
    if rule == SQUARE:
        return size == (side, side)
    if rule == LONGEST:
        return max(width, height) == side and min(width, height) <= side
    if rule in (WITHIN_BOX, FILLS_BOX):
        inside = width <= side[0] and height <= side[1] and width % 2 == 0 and height % 2 == 0
        return inside and (rule == WITHIN_BOX or width == side[0] or height == side[1])
    return max(width, height) <= side


def probe_video(path):
    """Size, frame count and length of a WEBM as ffprobe reads it."""
    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-show_format", "-of", "json", path],
        capture_output=True, text=True, check=True).stdout)
    streams = probe["streams"]
    problems = []
    if [s["codec_type"] for s in streams] != ["video"]:
        problems.append("streams %s, not one video stream" % [s["codec_type"] for s in streams])
    video = streams[0]
    if video["codec_name"] != "vp9":
        problems.append("codec " + video["codec_name"])
    if video["r_frame_rate"] != "30/1":
        problems.append("frame rate " + video["r_frame_rate"])
    if video.get("tags", {}).get("alpha_mode") != "1":
        problems.append("no alpha channel")
    frames = int(video["nb_read_frames"])
    return (video["width"], video["height"]), frames, [], float(probe["format"]["duration"]) * 1000, problems


def last_frame_alpha(path, size):
    """The alpha of a WEBM's last frame, decoded by libvpx (FFmpeg's own VP9
    decoder ignores the alpha stream)."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-c:v", "libvpx-vp9", "-i", path, "-pix_fmt", "rgba",
                          "-f", "rawvideo", "-"], capture_output=True, check=True).stdout
    frame = size[0] * size[1] * 4
    return raw[len(raw) - frame:][3::4]


def alpha_differs(video, still):
    """Why the last frame of a reveal's video does not show the still's
    shape, or None: VP9 is lossy, so the alpha may differ a little."""
    with Image.open(still) as image:
        size = image.size
        expected = image.convert("RGBA").tobytes()[3::4]
    shown = last_frame_alpha(video, size)
    if len(shown) != len(expected):
        return "the video's frames are not %d x %d" % size
    mean = sum(abs(a - b) for a, b in zip(shown, expected)) / len(expected)
    flipped = sum(1 for a, b in zip(shown, expected) if (a >= 128) != (b >= 128)) / len(expected)
    if mean > 4 or flipped > 0.01:
        return "alpha off by %.1f on average, %.1f %% of pixels on the other side" % (mean, flipped * 100)
    return None


def ink_counts(path, suffix, size):
    """Pixels at least half opaque in each frame as a viewer shows it:
    Pillow for pictures, libvpx (through FFmpeg) for a WEBM."""
    if suffix == "webm":
        raw = subprocess.run(["ffmpeg", "-v", "error", "-c:v", "libvpx-vp9", "-i", path, "-pix_fmt", "rgba",
                              "-f", "rawvideo", "-"], capture_output=True, check=True).stdout
        frame = size[0] * size[1] * 4
        return [sum(1 for a in raw[at + 3:at + frame:4] if a >= 128) for at in range(0, len(raw), frame)]
    counts = []
    with Image.open(path) as image:
        for index in range(getattr(image, "n_frames", 1)):
            image.seek(index)
            alpha = image.convert("RGBA").getchannel("A")
            counts.append(sum(alpha.point(lambda a: 255 if a >= 128 else 0).histogram()[255:]))
    return counts


def reveal_steps(counts):
    """How many steps a reveal shows, the whole strip the last: the runs of
    frames whose ink grows, each character adding some. A video repeats a
    step for as many frames as it lasts, and lossy coding moves a few pixels,
    so a run is frames within a small noise of each other. The animation
    loops, and a file may start anywhere in it (an APNG on the finished
    picture, for viewers that show only the first frame): counting starts
    at the first frame after a whole one."""
    whole = max(counts)
    noise = max(3, whole // 400)
    starts = [at for at in range(len(counts))
              if counts[at] < whole - noise and counts[at - 1] >= whole - noise]
    if not starts:
        return 1
    steps, level = 0, None
    for offset in range(len(counts)):
        count = counts[(starts[0] + offset) % len(counts)]
        if level is not None and abs(count - level) <= noise:
            continue
        if level is not None and count < level:
            break  # the shake, or the next play
        steps += 1
        level = count
        if count >= whole - noise:
            break
    return steps


def read_picture(path):
    """Size, frame count, frame times and length as Pillow reads them."""
    with Image.open(path) as image:
        frames = getattr(image, "n_frames", 1)
        delays = []
        for index in range(frames):
            image.seek(index)
            image.load()
            delays.append(image.info.get("duration", 0))
        return image.size, frames, delays, sum(delays), []


def finite_play_problems(path, rules):
    """How an animation breaks an app's rules for playing a few times, its
    first frame standing for it: frame count, plays, their length, and the
    first frame the same picture as the last."""
    fewest, most_plays, longest_ms = rules
    problems = []
    with Image.open(path) as image:
        frames = getattr(image, "n_frames", 1)
        plays = image.info.get("loop", 0)
        delays, pictures = [], []
        for index in range(frames):
            image.seek(index)
            delays.append(image.info.get("duration", 0))
            pictures.append(image.convert("RGBA").tobytes())
    if frames < fewest:
        problems.append("%d frames, under %d" % (frames, fewest))
    if not 1 <= plays <= most_plays:
        problems.append("plays %d times, not 1 to %d" % (plays, most_plays))
    elif sum(delays) * plays > longest_ms:
        problems.append("%d plays of %d ms, over %d" % (plays, sum(delays), longest_ms))
    if pictures[0] != pictures[-1]:
        problems.append("the first frame is not the finished picture")
    return problems


def margin_problem(path, margin):
    with Image.open(path) as image:
        box = image.convert("RGBA").getchannel("A").getbbox()
        width, height = image.size
    if box and min(box[0], box[1], width - box[2], height - box[3]) < margin:
        return "drawn at %s on %d x %d, closer than %d px to an edge" % (box, width, height, margin)
    return None


def given_up_is_said(render, folder):
    """A file that had to give something up to meet its cap says what: a
    warning line on the command line and "fitted" in a batch result; and
    the reveal's steps are not among what was given up."""
    path = os.path.join(folder, "fitted.webp")
    arguments = ["--preset", "whatsapp", "--effect", "reveal-shake", "--look", "readable", "--seed", "1"]
    done = subprocess.run([render, *arguments, "-o", path, PHRASES["ten"]], capture_output=True, text=True)
    line = json.dumps({"phrase": PHRASES["ten"], "output": path, "preset": "whatsapp", "effect": "reveal-shake",
                       "look": "readable", "seed": 1}, ensure_ascii=False)
    batch = subprocess.run([render, "--batch", "-"], input=line + "\n", capture_output=True, text=True)
    result = json.loads(batch.stdout) if batch.returncode == 0 else {}
    warning = [text for text in done.stderr.splitlines() if "为满足 500 KB：" in text]
    problems = []
    if done.returncode != 0 or not warning:
        problems.append("no warning of what was given up: %d %r" % (done.returncode, done.stderr))
    if not result.get("fitted") or ("quillow-render: " + result["fitted"]) not in warning:
        problems.append("the batch result's \"fitted\" %r is not the warning %r" % (result.get("fitted"), warning))
    if os.path.exists(path):
        steps = reveal_steps(ink_counts(path, "webp", None))
        if steps != 10 or os.path.getsize(path) > 500_000:
            problems.append("%d reveal steps in %d bytes" % (steps, os.path.getsize(path)))
    for problem in problems:
        print("FAIL whatsapp reveal-shake, readable look:", problem)
    return 1 if problems else 0


def main():
    render = sys.argv[1]
    offered = offered_presets(render)
    missing = [name for name in offered if name not in PRESETS]
    if missing:
        print("presets without a row of rules in this test:", missing)
        return 1

    folder = tempfile.mkdtemp(prefix="preset-rules-")
    lines, cases = [], []
    for name in offered:
        still, animated = PRESETS[name][:2]
        for effect in EFFECTS:
            kind = still if effect == "still" else animated
            for phrase_name, phrase in PHRASES.items():
                path = os.path.join(folder, "%s-%s-%s.%s" % (name, effect, phrase_name, kind[0]))
                lines.append(json.dumps({"phrase": phrase, "output": path, "preset": name, "effect": effect,
                                         "seed": 5}, ensure_ascii=False))
                cases.append((name, effect, phrase_name, path))
    batch = subprocess.run([render, "--batch", "-"], input="\n".join(lines) + "\n", capture_output=True,
                           text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    results = [json.loads(line) for line in batch.stdout.splitlines()]

    failures = 0
    for (name, effect, phrase_name, path), result in zip(cases, results):
        still, animated, most_frames, shortest_ms, longest_ms = PRESETS[name]
        moving = effect != "still"
        suffix, rule, side, cap = animated if moving else still
        problems = []
        if not result.get("ok"):
            problems.append("not made: " + result.get("error", "?"))
        else:
            data = open(path, "rb").read()
            if len(data) > cap:
                problems.append("%d bytes, over the cap of %d" % (len(data), cap))
            signature = SIGNATURES.get(suffix)
            if signature and not data.startswith(signature):
                problems.append("not a %s file" % suffix)
            if suffix == "webp" and not (data[:4] == b"RIFF" and data[8:12] == b"WEBP"):
                problems.append("not a WebP file")
            size, frames, delays, played_ms, found = (
                probe_video(path) if suffix == "webm" else read_picture(path))
            problems += found
            if not size_keeps(rule, side, tuple(size)):
                problems.append("%d x %d, not %s %s" % (size[0], size[1], rule, side))
            if not moving and frames != 1:
                problems.append("a still of %d frames" % frames)
            if moving and most_frames and frames > most_frames:
                problems.append("%d frames, over %d" % (frames, most_frames))
            if moving and shortest_ms and frames > 1 and min(delays) < shortest_ms:
                problems.append("a frame of %d ms, under %d" % (min(delays), shortest_ms))
            if moving and longest_ms and played_ms > longest_ms:
                problems.append("plays %d ms, over %d" % (played_ms, longest_ms))
            if moving and name in FINITE_PLAYS:
                problems += finite_play_problems(path, FINITE_PLAYS[name])
            if not moving and name in STILL_MARGINS:
                problems += filter(None, [margin_problem(path, STILL_MARGINS[name])])
            # Whatever gave way to the cap, the reveal keeps a step per
            # character: the n-th step shows n of them.
            if effect in ("reveal", "reveal-shake") and phrase_name == "ten":
                steps = reveal_steps(ink_counts(path, suffix, size))
                if steps != 10:
                    problems.append("the reveal shows %d steps, not 10 (given up: %s)"
                                    % (steps, result.get("fitted", "nothing")))
            # The whole shout, as the video ends, is the still of the same
            # phrase: a reveal adds no margin.
            if suffix == "webm" and effect == "reveal":
                still_path = path.replace("-reveal-", "-still-")[:-len("webm")] + still[0]
                differs = alpha_differs(path, still_path)
                if differs:
                    problems.append(differs)
        if problems:
            failures += 1
            print("FAIL %s %s %s: %s" % (name, effect, phrase_name, "; ".join(problems)))
    if len(results) != len(cases):
        print("FAIL: %d results for %d lines" % (len(results), len(cases)))
        failures += 1
    failures += given_up_is_said(render, folder)
    print("%d stickers checked, %d broke a rule" % (len(cases), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
