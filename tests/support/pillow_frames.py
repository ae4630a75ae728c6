"""Writes the frames Pillow shows of a picture file as RGBA PNGs.

Usage: pillow_frames.py FILE FOLDER

Each frame, the whole canvas as a viewer shows it, goes to FOLDER/NNN.png;
its duration in milliseconds is printed on a line of its own. An APNG whose
default image is not part of the animation starts with its first real frame.
"""
import sys

from PIL import Image


def main():
    source, folder = sys.argv[1], sys.argv[2]
    with Image.open(source) as picture:
        first = 1 if picture.info.get("default_image") else 0
        for index in range(first, getattr(picture, "n_frames", 1)):
            picture.seek(index)
            picture.convert("RGBA").save(f"{folder}/{index - first:03d}.png")
            print(picture.info.get("duration", 0))


main()
