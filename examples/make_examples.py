#!/usr/bin/python3
"""Draws the sample strips in this folder, one of each format StripSheet reads:

    walk_H8.png    a walk cycle, 8 frames of 32 x 32 side by side
    coin_V6.bmp    a spinning coin, 6 frames of 24 x 24 stacked
    flame_H12.jpg  a flickering flame, 12 frames of 24 x 40 side by side (its sheet has two rows)

Run it again to redraw them: make_examples.py [FOLDER] (default: the folder of this script).
"""
import math
import os
import sys

from PIL import Image, ImageDraw

SKY = (38, 44, 64)
GROUND = (70, 60, 52)


def limb(draw, start, angle, length, knee_bend, colour):
    """A leg or an arm in two segments; angles in degrees from straight down."""
    a = math.radians(angle)
    mid = (start[0] + math.sin(a) * length, start[1] + math.cos(a) * length)
    b = math.radians(angle - knee_bend)
    end = (mid[0] + math.sin(b) * length, mid[1] + math.cos(b) * length)
    draw.line([start, mid, end], fill=colour, width=2)


def walk_frame(i, n):
    frame = Image.new("RGB", (32, 32), SKY)
    draw = ImageDraw.Draw(frame)
    draw.rectangle([0, 29, 31, 31], fill=GROUND)
    phase = 2 * math.pi * i / n
    swing = 28 * math.sin(phase)
    bob = round(abs(math.cos(phase)))  # the body is highest when the legs pass each other
    hip, shoulder = (16, 18 - bob), (16, 11 - bob)
    # The far leg and arm first, darker, so the near ones cover them.
    limb(draw, hip, -swing, 5.5, max(0, -swing) * 0.8, (90, 110, 150))
    limb(draw, shoulder, swing * 1.2, 4, -25, (180, 130, 95))
    draw.line([hip, shoulder], fill=(70, 140, 220), width=5)
    limb(draw, hip, swing, 5.5, max(0, swing) * 0.8, (120, 150, 200))
    limb(draw, shoulder, -swing * 1.2, 4, -25, (250, 200, 160))
    draw.ellipse([13, 3 - bob, 19, 9 - bob], fill=(240, 190, 150))
    draw.rectangle([13, 3 - bob, 19, 4 - bob], fill=(110, 70, 40))  # hair
    return frame


def coin_frame(i, n):
    frame = Image.new("RGB", (24, 24), SKY)
    draw = ImageDraw.Draw(frame)
    half = max(1, round(10 * abs(math.cos(math.pi * i / n))))
    draw.ellipse([12 - half, 2, 12 + half - 1, 21], fill=(150, 110, 20))
    draw.ellipse([12 - half + 1, 3, 12 + half - 2, 20], fill=(240, 200, 60))
    if half > 4:
        draw.rectangle([11, 7, 12, 16], fill=(190, 140, 30))
    return frame


def flame_frame(i, n):
    frame = Image.new("RGB", (24, 40), (20, 16, 24))
    draw = ImageDraw.Draw(frame)
    draw.rectangle([4, 35, 19, 39], fill=(90, 60, 40))  # the log it burns on
    for scale, colour in ((1.0, (200, 50, 20)), (0.7, (250, 140, 30)), (0.4, (255, 230, 120))):
        sway = 2 * math.sin(2 * math.pi * i / n) * scale
        height = (26 + 4 * math.sin(4 * math.pi * i / n + 1)) * scale
        width = 8 * scale
        draw.polygon([(12 + sway, 35 - height), (12 - width, 33), (12 + width, 33)], fill=colour)
        draw.ellipse([12 - width, 33 - width, 12 + width, 35], fill=colour)
    return frame


def strip(draw_frame, n, horizontal):
    frames = [draw_frame(i, n) for i in range(n)]
    w, h = frames[0].size
    result = Image.new("RGB", (w * n, h) if horizontal else (w, h * n))
    for i, f in enumerate(frames):
        result.paste(f, (w * i, 0) if horizontal else (0, h * i))
    return result


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    strip(walk_frame, 8, True).save(os.path.join(folder, "walk_H8.png"), optimize=True)
    strip(coin_frame, 6, False).save(os.path.join(folder, "coin_V6.bmp"))
    strip(flame_frame, 12, True).save(os.path.join(folder, "flame_H12.jpg"), quality=92)


if __name__ == "__main__":
    main()
