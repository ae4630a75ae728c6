"""Emoji tiles as Pillow reads them, a reader that shares nothing with ours.

Usage: tiles_check.py path/to/quillow-render

Checks that --tiles auto on a 128-pixel emoji preset draws the first of
nine characters at least 24 pixels high, that every tile is exactly
128 x 128 and within the cap, that the tiles side by side are the one-row
strip drawn at the same dpi (only the cut may differ, by its anti-aliasing),
that animated tiles share one timeline, and that a set no cap allows writes
nothing and leaves the user's files alone.
"""
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

PHRASE = "友谊的小船说翻就翻"
SIDE = 128
DISCORD_EMOJI_CAP = 256 * 1024
INKED = 64


def fail(message):
    sys.exit(f"tiles_check: {message}")


def render(*arguments, stdin=None):
    return subprocess.run([RENDER, *arguments], input=stdin, capture_output=True, text=True,
                          env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))


def first_character_ink_height(image):
    """The topmost band of inked rows is the line; its leftmost run of inked
    columns is the first character; the rows it inks are its height."""
    alpha = image.getchannel("A").point(lambda value: 255 if value > INKED else 0)
    width, height = alpha.size
    rows = [alpha.crop((0, y, width, y + 1)).getbbox() is not None for y in range(height)]
    top = rows.index(True)
    bottom = top
    while bottom < height and rows[bottom]:
        bottom += 1
    band = alpha.crop((0, top, width, bottom))
    columns = [band.crop((x, 0, x + 1, band.height)).getbbox() is not None for x in range(width)]
    left = columns.index(True)
    right = left
    while right < width and columns[right]:
        right += 1
    box = band.crop((left, 0, right, band.height)).getbbox()
    return box[3] - box[1]


def side_by_side(paths):
    tiles = [Image.open(path) for path in paths]
    banner = Image.new("RGBA", (SIDE * len(tiles), SIDE), (0, 0, 0, 0))
    for index, tile in enumerate(tiles):
        if tile.size != (SIDE, SIDE):
            fail(f"{paths[index]} is {tile.size}, not {SIDE} x {SIDE}")
        banner.paste(tile.convert("RGBA"), (index * SIDE, 0))
    return banner


def timeline(path):
    with Image.open(path) as picture:
        delays = []
        for index in range(picture.n_frames):
            picture.seek(index)
            delays.append(picture.info.get("duration", 0))
        return delays


def check_still_banner(folder):
    output = os.path.join(folder, "shout.png")
    done = render("--preset", "discord-emoji", "--tiles", "auto", "--seed", "1", "-o", output, PHRASE)
    if done.returncode != 0:
        fail(f"--tiles auto: exit {done.returncode}: {done.stderr}")
    names = sorted(name for name in os.listdir(folder) if name.startswith("shout"))
    count = len(names)
    # Discord's emoji names: letters, digits and "_".
    expected = [f"shout_{index}.png" for index in range(1, count + 1)]
    if count < 2 or names != expected:
        fail(f"--tiles auto wrote {names}")
    paste = "".join(f":shout_{index}:" for index in range(1, count + 1))
    if done.stdout != paste + "\n":
        fail(f"paste text {done.stdout!r}, expected {paste!r}")
    for name in names:
        if os.path.getsize(os.path.join(folder, name)) > DISCORD_EMOJI_CAP:
            fail(f"{name} is over Discord's cap")
    banner = side_by_side([os.path.join(folder, name) for name in names])
    height = first_character_ink_height(banner)
    if height < 24:
        fail(f"the first character is {height} pixels high")

    # The same line as a batch reports every file and the dpi the banner was
    # drawn at; the uncut strip at that dpi is what the tiles show together.
    line = json.dumps({"phrase": PHRASE, "output": output, "preset": "discord-emoji", "tiles": "auto",
                       "seed": 1})
    done = render("--batch", "-", stdin=line + "\n")
    result = json.loads(done.stdout)
    if not result["ok"] or result["output"] != output or \
            result["tiles"] != [os.path.join(folder, name) for name in names] or result["paste"] != paste:
        fail(f"batch result {done.stdout}")
    strip_path = os.path.join(folder, "strip.png")
    done = render("--format", "png-alpha", "--dpi", repr(result["dpi"]), "--seed", "1", "-o", strip_path,
                  PHRASE)
    if done.returncode != 0:
        fail(f"the uncut strip: {done.stderr}")
    strip = Image.open(strip_path).convert("RGBA")
    drawn = banner.crop(banner.getchannel("A").getbbox())
    uncut = strip.crop(strip.getchannel("A").getbbox())
    if drawn.size != uncut.size:
        fail(f"the tiles' ink is {drawn.size}, the strip's {uncut.size}")
    offset = banner.getchannel("A").getbbox()[0]
    difference = ImageChops.difference(drawn, uncut)
    for x in range(drawn.width):
        column = difference.crop((x, 0, x + 1, drawn.height))
        if max(band[1] for band in column.getextrema()) > 8 and min(
                abs((offset + x) - cut) for cut in range(SIDE, banner.width, SIDE)) > 1:
            fail(f"the tiles differ from the strip at column {offset + x}, away from any cut")


def check_animated_timeline(folder):
    output = os.path.join(folder, "go.gif")
    done = render("--preset", "slack", "--effect", "reveal-shake", "--tiles", "3x1", "-o", output, PHRASE)
    if done.returncode != 0:
        fail(f"animated tiles: {done.stderr}")
    # Slack's emoji names: small letters, digits, "-" and "_".
    paths = [os.path.join(folder, f"go-{index}.gif") for index in (1, 2, 3)]
    timelines = [timeline(path) for path in paths]
    if len(timelines[0]) < 2 or any(delays != timelines[0] for delays in timelines):
        fail(f"the tiles do not share one timeline: {timelines}")
    side_by_side(paths)


def check_refused_set(folder):
    # The user's own file of a tile's name keeps its bytes when the set is refused.
    kept = os.path.join(folder, "big-2.gif")
    with open(kept, "wb") as file:
        file.write(b"mine")
    done = render("--preset", "slack", "--effect", "reveal", "--tiles", "auto", "--max-bytes", "100", "-o",
                  os.path.join(folder, "big.gif"), PHRASE)
    if done.returncode != 2 or "100 字节" not in done.stderr:
        fail(f"a cap no tile meets: exit {done.returncode}: {done.stderr}")
    if sorted(os.listdir(folder)) != ["big-2.gif"] or open(kept, "rb").read() != b"mine":
        fail(f"a refused set left {sorted(os.listdir(folder))}")

    # A tile's name taken by a folder refuses the set before any is written.
    os.mkdir(os.path.join(folder, "taken_3.png"))
    done = render("--preset", "discord-emoji", "--tiles", "4x1", "-o", os.path.join(folder, "taken.png"), PHRASE)
    if done.returncode == 0 or any(name.startswith("taken_") and name != "taken_3.png"
                                   for name in os.listdir(folder)):
        fail(f"a set with a folder in its way: exit {done.returncode}, left {sorted(os.listdir(folder))}")


RENDER = os.path.abspath(sys.argv[1])
for check in (check_still_banner, check_animated_timeline, check_refused_set):
    with tempfile.TemporaryDirectory() as work:
        check(work)
