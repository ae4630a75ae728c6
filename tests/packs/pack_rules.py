"""Makes one sticker pack per chat app and kind with quillow-render --pack,
opens each archive with Python's zipfile and checks it against the app's
published pack rules with readers that share nothing with ours: Pillow for
PNG, APNG, GIF and WebP, ffprobe for WEBM, unzip -t for the archive. Then
packs the rules refuse: each must name the rule and leave no file.

    pack_rules.py QUILLOW_RENDER
    pack_rules.py --check FILE CASE
"""

import io
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile

from PIL import Image

# The phrase lists, small: LINE's smallest set is 8. A tab and emoji tag a
# sticker; "#" lines and blank lines are skipped.
EIGHT = "好的\n收到\n# 不是贴纸\n\n在吗\t🤔\n冲冲冲\n晚安\t🌙😴\n谢谢\n加油💪\n再见\n"
THREE = "好的\n晚安\t🌙😴\n加油💪\n"
TWO = "好的\n加油💪\n"

# Sticker kinds as each app takes them: suffix, reader's format, size rule,
# side, cap in bytes.
SQUARE, WITHIN_BOX, FILLS_BOX, LONGEST = "square", "within box", "fills box", "longest"

# name, app, effect, phrase list, extra arguments, sticker kind, extra
# images {file: (format, (w, h), cap)}, metadata file, archive cap.
CASES = [
    ("line still", "line", "still", EIGHT, [],
     ("png", "PNG", WITHIN_BOX, (370, 320), 1_000_000),
     {"main.png": ("PNG", (240, 240), 1_000_000), "tab.png": ("PNG", (96, 74), 1_000_000)}, None, 20_000_000),
    ("line animated", "line", "reveal", EIGHT, [],
     ("png", "PNG", FILLS_BOX, (320, 270), 300_000),
     {"main.png": ("PNG", (240, 240), 300_000), "tab.png": ("PNG", (96, 74), 1_000_000)}, None, 20_000_000),
    ("whatsapp still", "whatsapp", "still", THREE, ["--pack-name", "喊一声 Shouts", "--publisher", "Quillow 测试"],
     ("webp", "WEBP", SQUARE, 512, 100_000), {"tray.png": ("PNG", (96, 96), 50_000)}, "contents.json", None),
    ("whatsapp animated", "whatsapp", "reveal", THREE, ["--pack-name", "动起来"],
     ("webp", "WEBP", SQUARE, 512, 500_000), {"tray.png": ("PNG", (96, 96), 50_000)}, "contents.json", None),
    ("telegram still", "telegram", "still", THREE, ["--icon-phrase", "喊"],
     ("png", "PNG", LONGEST, 512, 512_000), {"icon.png": ("PNG", (100, 100), 128_000)}, "emoji.txt", None),
    # Videos are slow to encode: one sticker is enough to check the kind.
    ("telegram animated", "telegram", "reveal", "晚安\t🌙\n", [],
     ("webm", "webm", LONGEST, 512, 256_000), {"icon.webm": ("webm", (100, 100), 32_000)}, "emoji.txt", None),
    ("discord still", "discord-emoji", "still", THREE, ["--name-prefix", "shout_Team"],
     ("png", "PNG", SQUARE, 128, 256 * 1024), {}, None, None),
    ("discord animated", "discord-emoji", "reveal", TWO, [],
     ("gif", "GIF", SQUARE, 128, 256 * 1024), {}, None, None),
    ("slack still", "slack", "still", TWO, ["--name-prefix", "team-shout"],
     ("png", "PNG", SQUARE, 128, 128_000), {}, None, None),
    ("slack animated", "slack", "reveal", TWO, [],
     ("gif", "GIF", SQUARE, 128, 128_000), {}, None, None),
]

# Each chat's emoji name rule.
NAME_RULES = {"discord-emoji": re.compile(r"^[A-Za-z0-9_]{2,32}$"), "slack": re.compile(r"^[a-z0-9_-]{1,100}$")}
WHATSAPP_IDENTIFIER = re.compile(r"^[A-Za-z0-9_\-. ]+$")
LINE_MARGIN = 10

# Packs the rules refuse: name, app, effect, phrase list, arguments, what
# the message must say.
NINE_TOO_MANY = EIGHT + "哈哈\n好耶\n冲\n"
REFUSALS = [
    ("line count", "line", "still", NINE_TOO_MANY, [], "LINE 的静态贴纸包只能有 8、16、24、32 或 40 张，现有 11 张"),
    ("line animated count", "line", "reveal", EIGHT + "哈哈\n" * 24, [], "LINE 的动态贴纸包只能有 8、16 或 24 张，现有 32 张"),
    ("whatsapp too few", "whatsapp", "still", TWO, [], "WhatsApp 的静态贴纸包要有 3 到 30 张，现有 2 张"),
    ("whatsapp long name", "whatsapp", "still", THREE, ["--pack-name", "名" * 129], "名称最多 128 个字符，现有 129 个"),
    ("whatsapp long publisher", "whatsapp", "still", THREE, ["--publisher", "p" * 129], "发布者最多 128 个字符"),
    ("whatsapp four emoji", "whatsapp", "still", "好的\n晚安\t🌙😴🌛⭐\n加油\n", [], "第 2 行：每张贴纸最多 3 个表情符号"),
    ("tag not emoji", "telegram", "still", "好的\t好\n", [], "第 1 行：制表符后的“好”不是表情符号"),
    ("phrase too long", "line", "still", "好的\n" * 5 + "这一句话实在是太长了太长\n" + "好的\n" * 2, [], "第 6 行“这一句话实在是太长了太长”：短语太长"),
    ("discord prefix", "discord-emoji", "still", TWO, ["--name-prefix", "喊"], "Discord 的表情名须为"),
    ("slack prefix", "slack", "still", TWO, ["--name-prefix", "Team"], "Slack 的表情名须为"),
    ("not a zip", "line", "still", EIGHT, ["-o", "pack.png"], "文件名要以 .zip 结尾"),
]


def phrase_entries(text):
    """(phrase, emoji) of each sticker, in order."""
    entries = []
    for line in text.split("\n"):
        if not line.strip() or line.strip().startswith("#"):
            continue
        phrase, _, tags = line.partition("\t")
        emoji = [tag for tag in re.findall(r"[\U0001F000-\U0001FAFF\u2600-\u27BF]", tags)]
        if not emoji:
            own = re.findall(r"[\U0001F000-\U0001FAFF\u2600-\u27BF]", phrase)
            emoji = [own[0] if own else "💬"]
        entries.append((phrase, emoji))
    return entries


def probe_video(data, folder, name):
    path = os.path.join(folder, name.replace("/", "_"))
    with open(path, "wb") as file:
        file.write(data)
    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path],
        capture_output=True, text=True, check=True).stdout)
    video = probe["streams"][0]
    problems = []
    if video["codec_name"] != "vp9":
        problems.append("codec " + video["codec_name"])
    if video.get("tags", {}).get("alpha_mode") != "1":
        problems.append("no alpha channel")
    return (video["width"], video["height"]), int(video["nb_read_frames"]), problems


def read_picture(data):
    with Image.open(io.BytesIO(data)) as image:
        frames = getattr(image, "n_frames", 1)
        ink = None
        for index in range(frames):
            image.seek(index)
            box = image.convert("RGBA").getchannel("A").getbbox()
            if box:
                ink = box if ink is None else (min(ink[0], box[0]), min(ink[1], box[1]),
                                               max(ink[2], box[2]), max(ink[3], box[3]))
        return image.format, image.size, frames, ink


def size_problem(rule, side, size):
    width, height = size
    if rule == SQUARE:
        return None if size == (side, side) else "not %d x %d" % (side, side)
    if rule == LONGEST:
        return None if max(size) == side else "longest side not %d" % side
    inside = width <= side[0] and height <= side[1] and width % 2 == 0 and height % 2 == 0
    if not inside:
        return "not even sides within %d x %d" % side
    if rule == FILLS_BOX and width != side[0] and height != side[1]:
        return "fills neither side of %d x %d" % side
    return None


def check_pack(path, case, folder):
    name, app, effect, phrases, arguments, kind, images, metadata, archive_cap = case
    problems = []
    tested = subprocess.run(["unzip", "-t", path], capture_output=True, text=True)
    if tested.returncode != 0:
        problems.append("unzip -t: " + tested.stdout[-200:])
    if archive_cap and os.path.getsize(path) > archive_cap:
        problems.append("archive of %d bytes over %d" % (os.path.getsize(path), archive_cap))
    entries = phrase_entries(phrases)
    suffix, reader_format, rule, side, cap = kind
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            problems.append("zipfile finds a bad member")
        members = archive.namelist()
        prefix = arguments[arguments.index("--name-prefix") + 1] if "--name-prefix" in arguments else "quillow"
        numbered = ["%02d.%s" % (index, suffix) for index in range(1, len(entries) + 1)]
        if app in NAME_RULES:
            numbered = ["%s_%s" % (prefix, file) for file in numbered]
        expected = set(numbered) | set(images) | ({metadata} if metadata else set())
        if set(members) != expected or len(members) != len(expected):
            problems.append("members %s, expected %s" % (sorted(members), sorted(expected)))
            return problems
        for file in numbered:
            data = archive.read(file)
            if len(data) > cap:
                problems.append("%s: %d bytes over %d" % (file, len(data), cap))
            if app in NAME_RULES and not NAME_RULES[app].match(file.rsplit(".", 1)[0]):
                problems.append("%s breaks the chat's name rule" % file)
            if reader_format == "webm":
                size, frames, video_problems = probe_video(data, folder, file)
                problems += ["%s: %s" % (file, p) for p in video_problems]
                ink = None
            else:
                read_format, size, frames, ink = read_picture(data)
                if read_format != reader_format:
                    problems.append("%s is %s, not %s" % (file, read_format, reader_format))
            wrong = size_problem(rule, side, size)
            if wrong:
                problems.append("%s: %s is %s" % (file, size, wrong))
            if (frames > 1) != (effect != "still"):
                problems.append("%s: %d frames for a %s pack" % (file, frames, effect))
            if app == "line" and effect == "still" and ink:
                width, height = size
                if ink[0] < LINE_MARGIN or ink[1] < LINE_MARGIN or ink[2] > width - LINE_MARGIN or \
                        ink[3] > height - LINE_MARGIN:
                    problems.append("%s: ink %s within %d px of an edge" % (file, ink, LINE_MARGIN))
            if app == "line" and effect != "still" and not 5 <= frames <= 20:
                problems.append("%s: %d frames, LINE takes 5 to 20" % (file, frames))
        for file, (image_format, size, image_cap) in images.items():
            data = archive.read(file)
            if len(data) > image_cap:
                problems.append("%s: %d bytes over %d" % (file, len(data), image_cap))
            if image_format == "webm":
                shown, frames, video_problems = probe_video(data, folder, file)
                problems += ["%s: %s" % (file, p) for p in video_problems]
            else:
                read_format, shown, frames, _ = read_picture(data)
                if read_format != image_format:
                    problems.append("%s is %s" % (file, read_format))
            if shown != size:
                problems.append("%s is %s, not %s" % (file, shown, size))
            moving = effect != "still" and ((app == "line" and file == "main.png") or image_format == "webm")
            if moving != (frames > 1):
                problems.append("%s: %d frames" % (file, frames))
        if metadata == "contents.json":
            problems += contents_problems(json.loads(archive.read(metadata)), numbered, entries, arguments,
                                          effect != "still", members)
        if metadata == "emoji.txt":
            listed = archive.read(metadata).decode("utf-8").splitlines()
            wanted = ["%s\t%s" % (file, "".join(emoji)) for file, (_, emoji) in zip(numbered, entries)]
            if listed != wanted:
                problems.append("emoji list %s, expected %s" % (listed, wanted))
    return problems


def contents_problems(contents, numbered, entries, arguments, animated, members):
    problems = []
    packs = contents.get("sticker_packs", [])
    if len(packs) != 1:
        return ["%d sticker packs in contents.json" % len(packs)]
    pack = packs[0]
    name = arguments[arguments.index("--pack-name") + 1]
    publisher = arguments[arguments.index("--publisher") + 1] if "--publisher" in arguments else "Quillow"
    if pack.get("name") != name or len(pack["name"]) > 128:
        problems.append("name %r" % pack.get("name"))
    if pack.get("publisher") != publisher or len(pack["publisher"]) > 128:
        problems.append("publisher %r" % pack.get("publisher"))
    if not WHATSAPP_IDENTIFIER.match(pack.get("identifier", "")):
        problems.append("identifier %r" % pack.get("identifier"))
    if pack.get("tray_image_file") not in members:
        problems.append("tray %r" % pack.get("tray_image_file"))
    if not pack.get("image_data_version"):
        problems.append("no image data version")
    if pack.get("animated_sticker_pack") is not animated:
        problems.append("animated_sticker_pack %r" % pack.get("animated_sticker_pack"))
    stickers = pack.get("stickers", [])
    listed = [(s.get("image_file"), s.get("emojis")) for s in stickers]
    wanted = [(file, emoji) for file, (_, emoji) in zip(numbered, entries)]
    if listed != wanted:
        problems.append("stickers %s, expected %s" % (listed, wanted))
    if any(not 1 <= len(emoji or []) <= 3 for _, emoji in listed):
        problems.append("a sticker without 1 to 3 emoji")
    return problems


def make(render, folder, app, effect, phrases, arguments, output):
    source = os.path.join(folder, "phrases.txt")
    with open(source, "w", encoding="utf-8") as file:
        file.write(phrases)
    command = [render, "--pack", app, "--effect", effect, "--seed", "7"]
    if "-o" not in arguments:
        command += ["-o", output]
    return subprocess.run(command + arguments + [source], capture_output=True, text=True)


def batch_line_problems(render, folder):
    """A batch line with "pack" makes the pack the command line makes, and
    a refused one fails its line alone, writing nothing."""
    case = CASES[2]
    name, app, effect, phrases, arguments = case[:5]
    items = []
    for line in phrases.splitlines():
        phrase, tab, tags = line.partition("\t")
        items.append({"phrase": phrase, "emoji": tags} if tab else phrase)
    output = os.path.join(folder, "batch.zip")
    refused = os.path.join(folder, "batch-refused.zip")
    lines = [
        {"pack": app, "phrases": items, "output": output, "pack-name": arguments[1], "publisher": arguments[3],
         "effect": effect},
        {"pack": "line", "phrases": ["好的"], "output": refused},
    ]
    made = subprocess.run([render, "--batch", "-"], input="".join(json.dumps(line) + "\n" for line in lines),
                          capture_output=True, text=True)
    results = [json.loads(line) for line in made.stdout.splitlines()]
    problems = []
    if [r.get("ok") for r in results] != [True, False] or "现有 1 张" not in results[1].get("error", ""):
        return ["batch line: results %s, %s" % (results, made.stderr)]
    if os.path.exists(refused):
        problems.append("batch line: the refused pack was written")
    return problems + ["batch line: %s" % problem for problem in check_pack(output, case, folder)]


def check_only(path, case_name):
    """--check FILE CASE: holds a pack made elsewhere (the window's) to the
    rules of one case above."""
    case = next(case for case in CASES if case[0] == case_name)
    with tempfile.TemporaryDirectory() as folder:
        problems = check_pack(path, case, folder)
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


def main():
    if sys.argv[1] == "--check":
        return check_only(sys.argv[2], sys.argv[3])
    render = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for case in CASES:
            name, app, effect, phrases, arguments = case[:5]
            output = os.path.join(folder, name.replace(" ", "-") + ".zip")
            made = make(render, folder, app, effect, phrases, arguments, output)
            if made.returncode != 0:
                failures.append("%s: exit %d: %s" % (name, made.returncode, made.stderr.strip()))
                continue
            failures += ["%s: %s" % (name, problem) for problem in check_pack(output, case, folder)]

        failures += batch_line_problems(render, folder)

        for name, app, effect, phrases, arguments, message in REFUSALS:
            for existing in (None, b"the user's old file"):
                output = os.path.join(folder, "refused.zip")
                if existing:
                    with open(output, "wb") as file:
                        file.write(existing)
                made = make(render, folder, app, effect, phrases, arguments, output)
                if made.returncode != 2 or message not in made.stderr:
                    failures.append("%s: exit %d, %r; expected 2 and %r" % (name, made.returncode,
                                                                            made.stderr.strip(), message))
                left = open(output, "rb").read() if os.path.exists(output) else None
                if left != existing:
                    failures.append("%s: the refused pack touched %s" % (name, output))
                if os.path.exists(output):
                    os.remove(output)
                stray = [f for f in os.listdir(folder) if f.endswith(".tmp") or f.startswith("pack.")]
                if stray:
                    failures.append("%s: left %s" % (name, stray))

    for failure in failures:
        print("FAIL", failure)
    print("%d packs and %d refusals checked" % (len(CASES), len(REFUSALS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
