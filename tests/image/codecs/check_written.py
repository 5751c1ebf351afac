#!/usr/bin/python3
"""Looks at the files the codec tests saved, with tools independent of ours.

Each saved NAME.png or NAME.jpg has a NAME.<ext>.expected beside it: "width height channels", then
the red-green-blue samples that were saved, top row first. A PNG must pass pngcheck, hold only the
chunks IHDR, IDAT and IEND, be 8-bit RGB without interlacing or row filters, compressed at zlib's
highest level, and decode with PIL to exactly those samples; a JPEG must decode with djpeg to
samples within 4 of them (upright, colours not swapped).

usage: check_written.py FOLDER...
"""
import glob
import os
import re
import subprocess
import sys

from PIL import Image

failures, checked = [], 0


def expected(path):
    with open(path + ".expected", "rb") as f:
        data = f.read()
    header, samples = data.split(b"\n", 1)
    width, height, channels = map(int, header.split())
    return width, height, samples


written = [p for folder in sys.argv[1:] for p in sorted(glob.glob(os.path.join(folder, "*")))]

for path in [p for p in written if p.endswith(".png")]:
    if not os.path.exists(path + ".expected"):
        continue
    checked += 1
    width, height, samples = expected(path)
    check = subprocess.run(["pngcheck", "-vv", path], capture_output=True, text=True)
    if check.returncode != 0:
        failures.append("%s: pngcheck says %s" % (path, check.stdout.strip()))
    kinds = re.findall(r"chunk (\w{4}) at offset", check.stdout)
    if not kinds or kinds[0] != "IHDR" or kinds[-1] != "IEND" or set(kinds[1:-1]) != {"IDAT"}:
        failures.append("%s: chunks %s" % (path, kinds))
    for wanted in ("24-bit RGB, non-interlaced", "maximum compression"):
        if wanted not in check.stdout:
            failures.append("%s: pngcheck does not say %s" % (path, wanted))
    rows = re.findall(r"^\s+([\d ]+?)(?: \(\d+ out of \d+\))?$", check.stdout, re.M)
    if not rows or set(" ".join(rows).split()) != {"0"}:
        failures.append("%s: row filters %s, not all 0 (none)" % (path, rows))
    im = Image.open(path)
    if im.mode != "RGB" or im.size != (width, height) or im.tobytes() != samples:
        failures.append("%s: PIL reads %s %s with other pixels" % (path, im.mode, im.size))

for path in [p for p in written if p.endswith(".jpg")]:
    if not os.path.exists(path + ".expected"):
        continue
    checked += 1
    width, height, samples = expected(path)
    out = subprocess.run(["djpeg", "-dct", "int", "-pnm", path], capture_output=True, check=True).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", out)
    if not header or (int(header.group(1)), int(header.group(2))) != (width, height):
        failures.append("%s: djpeg gives another size" % path)
        continue
    pixels = out[header.end():]
    worst = max(abs(a - b) for a, b in zip(pixels, samples))
    if worst > 4:
        failures.append("%s: djpeg's pixels differ by up to %d" % (path, worst))

for failure in failures:
    print(failure)
print("check_written: %d files checked, %d failures" % (checked, len(failures)))
sys.exit(1 if failures or checked < 8 else 0)
