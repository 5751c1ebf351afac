"""The frames of the atlas rows: a generated, seeded stand-in for a released game's sprite art.

The set resembles the 195 animations the atlas was asked for (1,474 RGBA frames, most of them
32 x 32 to 64 x 64; 12.5% of the frames repeat an earlier frame of their strip exactly, 1.6% are
empty, and cutting every frame to the box of its visible pixels leaves about 57% of the area).
Each animation is a figure of flat colours with a soft, half-transparent edge that moves and
changes a little from frame to frame, on a transparent background. The strips are written as
horizontal RGBA PNG strips (`knight_walk_H8.png`) for StripSheet, and every frame as a PNG file of
its own (`knight_walk_3.png`) for a packer that takes one picture a frame.
"""
import os
import random

from PIL import Image, ImageDraw

ANIMATIONS = 195
FRAMES = 1474
REPEATED = 184  # frames that repeat an earlier frame of their strip: 12.5%
EMPTY = 24  # wholly transparent frames: 1.6%

# Frame sizes and how often an animation has each: most from 32 x 32 to 64 x 64.
SIZES = [((32, 32), 34), ((48, 48), 18), ((64, 64), 20), ((32, 48), 5), ((48, 32), 4),
         ((64, 48), 5), ((24, 24), 5), ((96, 96), 5), ((128, 64), 2), ((16, 16), 2)]
COUNTS = [1, 2, 3, 4, 4, 5, 6, 6, 8, 8, 8, 8, 10, 12, 12, 16, 20]
WHO = ["knight", "archer", "mage", "slime", "bat", "skeleton", "wolf", "goblin", "ghost", "miner",
       "queen", "crab", "golem", "fox", "robot"]
WHAT = ["idle", "walk", "run", "jump", "fall", "attack", "hurt", "die", "cast", "climb", "swim",
        "block", "dash"]


def animation_plan(rng, animations, frames):
    """(name, frame count, frame size) of each animation; the counts add up to `frames`."""
    counts = [rng.choice(COUNTS) for _ in range(animations)]
    while sum(counts) != frames:
        k = rng.randrange(animations)
        step = 1 if sum(counts) < frames else -1
        if 1 <= counts[k] + step <= 24:
            counts[k] += step
    names = [f"{who}_{what}" for who in WHO for what in WHAT]
    rng.shuffle(names)
    sizes = rng.choices([s for s, _ in SIZES], weights=[w for _, w in SIZES], k=animations)
    return [(names[k], counts[k], sizes[k]) for k in range(animations)]


def draw_frame(rng, size, look, step):
    """One frame: the animation's figure, its box `look["fill"]` of the frame on average, moved
    and changed by `step`."""
    w, h = size
    picture = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(picture)
    bw = max(3, min(w, round(w * look["fill"][0] * rng.uniform(0.92, 1.08))))
    bh = max(3, min(h, round(h * look["fill"][1] * rng.uniform(0.92, 1.08))))
    x = min(w - bw, max(0, (w - bw) // 2 + round(step * look["drift"]) % 5 - 2))
    y = h - bh - rng.randrange(0, max(1, (h - bh) // 3 + 1))
    body, edge, parts = look["colours"]
    # A soft outline (alpha below 255), the body inside it, then details in flat colours.
    draw.ellipse([x, y, x + bw - 1, y + bh - 1], fill=edge + (140,))
    draw.ellipse([x + 1, y + 1, x + bw - 2, y + bh - 2], fill=body + (255,))
    for n, colour in enumerate(parts):
        px = x + 1 + rng.randrange(max(1, bw - 4))
        py = y + 1 + rng.randrange(max(1, bh - 4))
        side = 1 + (n + step) % 3
        draw.rectangle([px, py, min(px + side, x + bw - 2), min(py + side, y + bh - 2)],
                       fill=colour + (255,))
    return picture


def make_animation(rng, size, count, repeats, empties):
    """The frames of one animation: `repeats` of them copies of an earlier frame, `empties`
    wholly transparent."""
    colour = lambda: tuple(rng.randrange(256) for _ in range(3))
    look = {"fill": (rng.uniform(0.605, 0.9), rng.uniform(0.605, 0.9)),
            "drift": rng.uniform(-1.5, 1.5), "colours": (colour(), colour(),
                                                         [colour() for _ in range(4)])}
    places = list(range(1, count))
    rng.shuffle(places)
    copied = set(places[:repeats])
    blank = set(places[repeats:repeats + empties]) if count > 1 else set()
    frames = []
    for i in range(count):
        if i in copied:
            earlier = [k for k in range(i) if k not in blank]
            frames.append(frames[rng.choice(earlier)].copy() if earlier else
                          draw_frame(rng, size, look, i))
        elif i in blank:
            frames.append(Image.new("RGBA", size, (0, 0, 0, 0)))
        else:
            frames.append(draw_frame(rng, size, look, i))
    return frames


def spread(rng, plan, total, room):
    """`total` places drawn among the animations, at most room(count) in one: how many each has."""
    slots = [k for k, (_, count, _) in enumerate(plan) for _ in range(room(count))]
    chosen = rng.sample(slots, total)
    return [chosen.count(k) for k in range(len(plan))]


def write_strip(folder, name, frames):
    w, h = frames[0].size
    strip = Image.new("RGBA", (w * len(frames), h))
    for i, frame in enumerate(frames):
        strip.paste(frame, (i * w, 0))
    path = os.path.join(folder, f"{name}_H{len(frames)}.png")
    strip.save(path)
    return path


def make_set(folder, seed, animations=ANIMATIONS, frame_files=True):
    """Writes the strips to folder/strips and each frame to folder/frames (once: a second call
    with the same seed reuses them). Returns [(name, strip path, frame size, count)]; the first
    `animations` of the whole set."""
    rng = random.Random(f"game-art-{seed}")
    plan = animation_plan(rng, ANIMATIONS, FRAMES)
    repeats = spread(rng, plan, REPEATED, lambda count: count // 2)
    empties = spread(rng, plan, EMPTY, lambda count: 1 if count >= 4 else 0)
    strips, frames_folder = os.path.join(folder, "strips"), os.path.join(folder, "frames")
    stamp = os.path.join(folder, f".seed{seed}-{animations}")
    result = [(name, os.path.join(strips, f"{name}_H{count}.png"), size, count)
              for name, count, size in plan[:animations]]
    if os.path.exists(stamp):
        return result
    for sub in (strips, frames_folder):
        os.makedirs(sub, exist_ok=True)
        for old in os.listdir(sub):
            os.remove(os.path.join(sub, old))
    for k, (name, count, size) in enumerate(plan[:animations]):
        frames = make_animation(rng, size, count, repeats[k], empties[k])
        write_strip(strips, name, frames)
        if frame_files:
            for i, frame in enumerate(frames):
                frame.save(os.path.join(frames_folder, f"{name}_{i}.png"))
    open(stamp, "w").close()
    return result


def make_small_strips(folder, count, seed):
    """`count` strips of 8 RGBA frames of 16 x 16, drawn as the set's frames are, each its own."""
    stamp = os.path.join(folder, f".seed{seed}-{count}")
    paths = [os.path.join(folder, f"s{k:05d}_H8.png") for k in range(count)]
    if os.path.exists(stamp):
        return paths
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(f"small-{seed}")
    for k, path in enumerate(paths):
        frames = make_animation(rng, (16, 16), 8, rng.choice([0, 1, 1, 2]), 0)
        write_strip(folder, f"s{k:05d}", frames)
    open(stamp, "w").close()
    return paths


def describe(folder, plan):
    """What the set holds, counted from the written strips: frames, repeated and empty frames,
    and the share of the area the boxes of visible pixels leave."""
    frames = repeated = empty = area = kept = 0
    for name, path, (w, h), count in plan:
        strip = Image.open(path)
        seen = []
        for i in range(count):
            frame = strip.crop((i * w, 0, (i + 1) * w, h))
            data = frame.tobytes()
            box = frame.getchannel("A").getbbox()
            frames += 1
            area += w * h
            if box is None:
                empty += 1
            else:
                kept += (box[2] - box[0]) * (box[3] - box[1])
            if data in seen:
                repeated += 1
            seen.append(data)
    return {"animations": len(plan), "frames": frames, "repeated": repeated, "empty": empty,
            "trimmed share": kept / area}
