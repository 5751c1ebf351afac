#!/usr/bin/python3
"""StripSheet's benchmark: writes a fixed (seeded) batch of strips, converts it five ways on the
same files in the same run, and prints milliseconds per strip and the ratios.

  ours   the shipped batch driver and conversion, with scripted dialogs; the whole batch timed,
         load, cut and save inside it.
  cores  the floor on a thread per core: whole strips, one a thread at a time, the threads made
         once; the batch timed. The headline ratio is ours against it.
  floor  decode, copy the frames' rows, encode, with the same libraries at the same settings; no
         GDI, no runtime (codec_floor.cpp); one strip after the other on one thread.
  PIL    what a game developer scripts instead: in this Python process, Image.open, crop, paste
         into a black sheet, save (PNG compress_level 9, JPEG quality 70, BMP); the batch timed.
  IM     ImageMagick: convert -crop, then montage -tile 8x, one pipeline a strip.

Ours and both floors run in one process under Wine (stripsheet_bench.exe) and PIL natively in this
one; the four take turns group by group, round after round. Beside each way's clock time the
bench prints its processor time (all threads), which another program's load changes far less:
whether a way does more work or only waits longer. With --serial ours also runs with every sheet
saved on the batch's thread, with --progress-cost without the progress checks.

With /alpha /json (the png* rows) every way writes an RGBA PNG sheet and a data file of the
frames. Every sheet of ours is compared with the floors' and PIL's, pixel for pixel (alpha too):
all did the same work. (PIL's libjpeg-turbo, Debian's build with its SIMD code, writes the same JPEG
files as ours.)
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops, ImageDraw

import atlas_rows
from atlas_rows import windows_path

# name: (frame count, frame side, direction)
SIZES = {
    "small": (8, 16, "H"),
    "medium": (32, 64, "V"),
    "large": (64, 256, "H"),
}
DEFAULT_STRIPS = {"small": 40, "medium": 8, "large": 6}
FORMATS = ["png", "bmp", "jpg"]
CONTENTS = ["flat", "noisy"]
IM_CONVERT = "/usr/bin/convert"  # Debian's ImageMagick 6, package imagemagick
IM_MONTAGE = "/usr/bin/montage"
CONVERTED, SAVING = 0, 6  # ConvertOutcome's values
# The sheet options' price: the flat PNG strips of each size once more, with these options.
OPTIONS_GROUP = "-alpha-json"
OPTIONS = "/alpha /json"
IM_POLICY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "imagemagick")


def strip_size(size):
    count, side, direction = SIZES[size]
    return (side * count, side) if direction == "H" else (side, side * count)


def flat_strip(rng, size):
    """Flat-colour sprites on a plain background, moving a little from frame to frame."""
    count, side, direction = SIZES[size]
    picture = Image.new("RGB", strip_size(size), tuple(rng.randrange(256) for _ in range(3)))
    draw = ImageDraw.Draw(picture)
    colours = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(4)]
    for i in range(count):
        ox, oy = (i * side, 0) if direction == "H" else (0, i * side)
        shift = (i * side) // (2 * count)
        body = [ox + side // 4 + shift, oy + side // 4, ox + 3 * side // 4 + shift - 1, oy + side - 2]
        draw.rectangle(body, fill=colours[0])
        draw.ellipse([ox + side // 3, oy + 1, ox + 2 * side // 3, oy + side // 3], fill=colours[1])
        draw.rectangle([body[0], body[3] - side // 8, body[2], body[3]], fill=colours[2])
        draw.point([(ox + side // 2, oy + side // 6)], fill=colours[3])
    return picture


def noisy_strip(rng, size):
    """Photographic-like noise: smooth coarse structure under grain, hard on any compressor."""
    width, height = strip_size(size)
    coarse_size = (max(1, width // 8), max(1, height // 8))
    coarse = Image.frombytes("RGB", coarse_size, rng.randbytes(coarse_size[0] * coarse_size[1] * 3))
    grain = Image.frombytes("RGB", (width, height), rng.randbytes(width * height * 3))
    return Image.blend(coarse.resize((width, height), Image.BILINEAR), grain, 0.35)


def make_strips(work, sizes, strips, seed):
    """Writes the strips once; a second run with the same arguments reuses them."""
    groups = []
    for size in sizes:
        count, side, direction = SIZES[size]
        n = strips or DEFAULT_STRIPS[size]
        for content in CONTENTS:
            pictures = None
            for fmt in FORMATS:
                group = f"{size}-{content}-{fmt}"
                folder = os.path.join(work, "strips", group)
                names = [f"{content}{k:03d}_{direction}{count}.{fmt}" for k in range(n)]
                paths = [os.path.join(folder, name) for name in names]
                stamp = os.path.join(folder, f".seed{seed}")
                if not os.path.exists(stamp) or not all(map(os.path.exists, paths)):
                    if pictures is None:
                        rng = random.Random(f"{seed}-{size}-{content}")
                        make = flat_strip if content == "flat" else noisy_strip
                        pictures = [make(rng, size) for _ in range(n)]
                    shutil.rmtree(folder, ignore_errors=True)
                    os.makedirs(folder)
                    for picture, path in zip(pictures, paths):
                        if fmt == "jpg":
                            picture.save(path, quality=90)
                        else:
                            picture.save(path)
                    open(stamp, "w").close()
                groups.append((group, size, fmt, content, paths))
                if fmt == "png" and content == "flat":
                    groups.append((group + OPTIONS_GROUP, size, fmt, content, paths))
    return groups


def options_of(group):
    return OPTIONS if group.endswith(OPTIONS_GROUP) else ""


def run_wine(build, program, *args):
    wine_run = os.path.join(build, "wine-run")
    exe = os.path.join(build, "bench", program)
    result = subprocess.run([wine_run, exe, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        sys.exit(f"bench: {program} failed ({result.returncode}):\n{result.stderr[-2000:]}")
    return result.stdout.splitlines()


def warm_up(groups):
    """One strip of each format, converted first and left out of the figures: both programs then
    start the timed groups with their libraries loaded, and ours with its writing threads."""
    firsts = {}
    for group, size, fmt, _, paths in groups:
        firsts.setdefault(fmt, (size, paths[0]))
    return [("warm-up", size, path) for size, path in firsts.values()]


def strip_line(group, size, path):
    count, _, direction = SIZES[size]
    return f"{group} {windows_path(path)} {direction} {count} {options_of(group)}\n"


def frame_data(prefix, image, sheet, frame_w, frame_h, count):
    """The data file /json writes: each frame's place on the sheet, the animation, the sheet."""
    names = [f"{prefix}_{i}" for i in range(count)]
    size = {"w": frame_w, "h": frame_h}
    frames = {name: {"frame": {"x": i % 8 * frame_w, "y": i // 8 * frame_h, **size},
                     "rotated": False, "trimmed": False,
                     "spriteSourceSize": {"x": 0, "y": 0, **size}, "sourceSize": size}
              for i, name in enumerate(names)}
    meta = {"image": image, "format": "RGBA8888" if sheet.mode == "RGBA" else "RGB888",
            "size": {"w": sheet.width, "h": sheet.height}}
    return {"frames": frames, "animations": {prefix: names}, "meta": meta}


def pil_convert(path, direction, count, folder, options):
    """What a game developer scripts instead: open, crop, paste, save (with /alpha an RGBA PNG
    sheet, with /json a data file beside it); times each step (us)."""
    start = time.perf_counter()
    name = os.path.basename(path)
    base, extension = os.path.splitext(name)
    extension = extension[1:].lower()
    mode = "RGBA" if "/alpha" in options and extension == "png" else "RGB"
    with Image.open(path) as strip:
        strip.load()
        opened = time.perf_counter()
        width, height = strip.size
        horizontal = direction == "H"
        frame_w, frame_h = (width // count, height) if horizontal else (width, height // count)
        sheet = Image.new(mode, (frame_w * min(count, 8), frame_h * ((count + 7) // 8)))
        for i in range(count):
            x, y = (i * frame_w, 0) if horizontal else (0, i * frame_h)
            frame = strip.crop((x, y, x + frame_w, y + frame_h))
            sheet.paste(frame, (i % 8 * frame_w, i // 8 * frame_h))
    cut = time.perf_counter()
    prefix = base[:base.rfind('_')]
    image = f"{prefix}_B{count}.{extension}"
    out = os.path.join(folder, image)
    if extension == "png":
        sheet.save(out, "PNG", compress_level=9)
    elif extension == "jpg":
        sheet.save(out, "JPEG", quality=70)
    else:
        sheet.save(out, "BMP")
    if "/json" in options:
        with open(os.path.join(folder, f"{prefix}_B{count}.json"), "w") as f:
            json.dump(frame_data(prefix, image, sheet, frame_w, frame_h, count), f, indent=2)
    end = time.perf_counter()
    us = lambda seconds: seconds * 1e6
    return us(opened - start), us(cut - opened), us(end - cut)


def run_pil(out, round_, group, strips):
    """The PIL peer's turn: the group's strips one after the other in this Python process, timed
    as one batch as ours is (the folder made before the clock starts, as the bench's are)."""
    folder = os.path.join(out, "pil", str(round_), group)
    os.makedirs(folder, exist_ok=True)
    cpu = time.process_time()
    start = time.perf_counter()
    steps = [pil_convert(path, direction, count, folder, options_of(group))
             for path, direction, count in strips]
    whole = (time.perf_counter() - start) * 1e6 / len(strips)
    cpu = (time.process_time() - cpu) * 1e6 / len(strips)
    return [(opened, cut, save, whole) for opened, cut, save in steps], cpu


def drop_sheets(out, round_, group):
    """Deletes every way's sheets of a group in a round after the first: only the first round's are
    compared. Kept, a full run left 14 GB of sheets on the disk, and the system wrote them out all
    through the run (about a gigabyte waiting at any time) beside whichever way was being timed.
    Deleted within seconds, before the system writes them out, they never reach the disk."""
    for way in os.listdir(out):
        shutil.rmtree(os.path.join(out, way, str(round_), group), ignore_errors=True)


def run_peers(build, work, groups, rounds, plains=None, serial=False):
    """Ours, the floor on one thread and on every core in one process, and PIL in this one, taking
    turns group by group, round after round. Returns, for each round, the strips' times of each
    group, each way, and the output folder. With `plains` (a dict) ours also runs without the
    progress checks, each batch's time kept there by (round, group); with `serial` ours also runs
    with every sheet saved on the batch's thread (its rounds come back empty otherwise)."""
    listing = os.path.join(work, "strips.txt")
    turn_strips = {}
    with open(listing, "w") as f:
        lines = warm_up(groups) + [(g, size, path) for g, size, _, _, paths in groups
                                   for path in paths]
        for group, size, path in lines:
            f.write(strip_line(group, size, path))
            count, _, direction = SIZES[size]
            turn_strips.setdefault(group, []).append((path, direction, count))
    out = os.path.join(work, "sheets")
    shutil.rmtree(out, ignore_errors=True)
    ours = [{} for _ in range(rounds)]
    floor = [{} for _ in range(rounds)]
    cores = [{} for _ in range(rounds)]
    pil = [{} for _ in range(rounds)]
    serials = [{} for _ in range(rounds)]
    # Processor time a strip, by way and (round, group).
    cpus = {way: {} for way in ("ours", "floor", "cores", "pil")}
    waits, batches = {}, {}
    threads, kind, last_turn = 0, None, None
    wine_run = os.path.join(build, "wine-run")
    exe = os.path.join(build, "bench", "stripsheet_bench.exe")
    errors = tempfile.TemporaryFile(mode="w+")
    process = subprocess.Popen(
        [wine_run, exe, windows_path(listing), windows_path(out), "--rounds", str(rounds),
         "--plain", "1" if plains is not None else "0", "--serial", "1" if serial else "0",
         "--turns", "1"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors, text=True)
    # Wine's helper processes may hold the output open after the program ends: its last line
    # says it is done.
    for line in process.stdout:
        fields = line.split()
        if not fields:
            continue
        kind, key = fields[0], (int(fields[1]), fields[2]) if len(fields) > 2 else None
        if kind == "end":
            break
        if kind == "turn":
            # Every way is done with the group before this one: its sheets go, while nothing is
            # timed.
            if last_turn and last_turn[0] >= 1:
                drop_sheets(out, *last_turn)
            last_turn = key
            pil[key[0]][key[1]], cpus["pil"][key] = run_pil(out, key[0], key[1],
                                                            turn_strips[key[1]])
            process.stdin.write("go\n")
            process.stdin.flush()
        elif kind in ("strip", "serial-strip"):
            load, cut, save, whole, outcome = map(int, fields[5:10])
            if outcome not in (CONVERTED, SAVING):
                sys.exit(f"bench: a strip of {key[1]} was not converted (outcome {outcome})")
            way = ours if kind == "strip" else serials
            way[key[0]].setdefault(key[1], []).append((load, cut, save, whole))
        elif kind == "finish":
            if int(fields[4]) != CONVERTED:
                sys.exit(f"bench: a sheet of {key[1]} was not written")
            waits[key] = waits.get(key, 0) + int(fields[3])
        elif kind == "batch":
            batches[key] = int(fields[4])
            cpus["ours"][key] = int(fields[7]) / int(fields[3])
        elif kind == "floor-cpu":
            cpus["floor"][key] = int(fields[3]) / len(floor[key[0]][key[1]])
        elif kind == "serial-batch":
            n, whole = int(fields[3]), int(fields[4])
            serials[key[0]][key[1]] = [row[:3] + (whole / n,) for row in serials[key[0]][key[1]]]
        elif kind == "plain":
            plains[key] = int(fields[4])
        elif kind == "floor":
            if fields[7] != "1":
                sys.exit(f"bench: the floor failed on a strip of {key[1]}")
            floor[key[0]].setdefault(key[1], []).append(tuple(map(int, fields[3:7])))
        elif kind == "cores":
            threads, n, whole, ok = map(int, fields[3:7])
            if ok != 1:
                sys.exit(f"bench: the floor on {threads} threads failed on a strip of {key[1]}")
            cores[key[0]][key[1]] = whole / n
            cpus["cores"][key] = int(fields[7]) / n
    process.stdin.close()
    status = process.wait()
    if status != 0 or kind != "end":
        errors.seek(0)
        sys.exit(f"bench: stripsheet_bench.exe failed ({status}):\n{errors.read()[-2000:]}")
    # Sheets are written in the background while the next strips are loaded and cut: a strip
    # takes the batch's time shared out, and its save is the time the batch spent starting
    # saves and waiting for them.
    for round_, groups_ in enumerate(ours):
        for group, rows in groups_.items():
            wait = waits.get((round_, group), 0) / len(rows)
            whole = batches[(round_, group)] / len(rows)
            groups_[group] = [(load, cut, save + wait, whole) for load, cut, save, _ in rows]
    return ours, floor, cores, pil, serials, cpus, threads, out


def im_options(fmt):
    if fmt == "png":
        return ("-depth 8 -define png:compression-level=9 -define png:compression-filter=0 "
                "-define png:color-type=2", "PNG24:")
    if fmt == "bmp":
        return "-type TrueColor", "BMP3:"
    return "-quality 70", "JPG:"


def run_imagemagick(work, groups):
    if not (os.access(IM_CONVERT, os.X_OK) and os.access(IM_MONTAGE, os.X_OK)):
        return None
    out = os.path.join(work, "imagemagick")
    shutil.rmtree(out, ignore_errors=True)
    times = {}
    environment = dict(os.environ, MAGICK_CONFIGURE_PATH=IM_POLICY)
    for group, size, fmt, _, paths in groups:
        count, side, direction = SIZES[size]
        os.makedirs(os.path.join(out, group))
        options, prefix = im_options(fmt)
        for path in paths:
            sheet = os.path.join(out, group, os.path.basename(path))
            command = (f"{IM_CONVERT} '{path}' -crop {side}x{side} +repage miff:- | "
                       f"{IM_MONTAGE} - -tile 8x -geometry +0+0 -background black {options} "
                       f"'{prefix}{sheet}'")
            start = time.perf_counter()
            subprocess.run(["bash", "-o", "pipefail", "-c", command], check=True, env=environment)
            times.setdefault(group, []).append((time.perf_counter() - start) * 1e6)
    return times


def sheet_names(folder):
    """The sheets in a folder, without the data files the sheet options add."""
    names = os.listdir(folder) if os.path.isdir(folder) else []
    return sorted(name for name in names if not name.endswith(".json"))


def sheet_difference(sheets, way, group):
    """The largest difference of a colour value between ours and another way's sheets of the
    group (the first round's); None when a sheet is missing or its size differs."""
    ours_folder = os.path.join(sheets, "ours", "0", group)
    their_folder = os.path.join(sheets, way, "0", group)
    names = sheet_names(their_folder)
    worst = 0
    for name in names:
        mine = os.path.join(ours_folder, name)
        if not os.path.exists(mine):
            return None
        with Image.open(mine) as a, Image.open(os.path.join(their_folder, name)) as b:
            if a.size != b.size:
                return None
            # Alpha is compared when both sheets have it.
            mode = "RGBA" if a.mode == b.mode == "RGBA" else "RGB"
            a, b = a.convert(mode), b.convert(mode)
            if a.tobytes() != b.tobytes():
                extrema = ImageChops.difference(a, b).getextrema()
                worst = max(worst, max(high for _, high in extrema))
    return worst if names else None


def same_work(sheets, group, ways):
    """Ours against each other way, pixel for pixel. Returns the text of the row's last column
    (the ways that differ, each with its largest difference) and whether all agree."""
    faults = []
    for way in ways:
        worst = sheet_difference(sheets, way, group)
        if worst != 0:
            faults.append(way if worst is None else f"{way} by {worst}")
    return ("NO: " + ", ".join(faults), False) if faults else ("yes", True)


def sheet_bytes(sheets, way, group):
    folder = os.path.join(sheets, way, "0", group)
    return sum(os.path.getsize(os.path.join(folder, name)) for name in sheet_names(folder))


def progress_cost(ours_rounds, plains, rounds):
    """Ours with the progress checks against ours without them, batch by batch in one process."""
    print(f"\nThe progress checks (ms per strip, median of {rounds} rounds, the two taking turns):")
    print(f"{'group':<22}{'with':>8}{'without':>9}{'with/without':>14}")
    ratios = []
    for group in ours_rounds[0]:
        n = len(ours_rounds[0][group])
        pairs = [(ours_rounds[r][group][0][3], plains[(r, group)] / n) for r in range(rounds)]
        ratios += [a / b for a, b in pairs]
        with_ = sorted(a for a, _ in pairs)[(rounds - 1) // 2]
        without = sorted(b for _, b in pairs)[(rounds - 1) // 2]
        print(f"{group:<22}{with_ / 1000:>8.2f}{without / 1000:>9.2f}{with_ / without:>14.2f}")
    print(f"median with/without of all {len(ratios)} pairs: {sorted(ratios)[len(ratios) // 2]:.3f}")


def memory_run(build, work, groups, strips):
    """One batch of `strips` medium strips (the medium flat PNGs over and over), sampled."""
    medium = [g for g in groups if g[1] == "medium" and g[2] == "png" and g[3] == "flat"]
    if not medium:
        return
    paths = medium[0][4]
    listing = os.path.join(work, "memory.txt")
    with open(listing, "w") as f:
        for k in range(strips):
            f.write(strip_line("memory", "medium", paths[k % len(paths)]))
    out = os.path.join(work, "memory")
    shutil.rmtree(out, ignore_errors=True)
    every = max(1, strips // 10)
    samples = []
    for line in run_wine(build, "stripsheet_bench.exe", windows_path(listing), windows_path(out),
                         "--memory-every", str(every)):
        fields = line.split()
        if fields and fields[0] == "memory":
            samples.append(tuple(map(int, fields[1:5])))
    print(f"\nMemory over one batch of {strips} medium strips (sampled every {every}):")
    print(f"{'strips':>7} {'committed KB':>13} {'working set KB':>15} {'GDI objects':>12}")
    for done, committed, working, gdi in samples:
        print(f"{done:>7} {committed:>13} {working:>15} {gdi:>12}")
    if len(samples) >= 3:
        # After the first strips (codec tables, heap growth), nothing may keep growing.
        settled = samples[1]
        last = samples[-1]
        print(f"from strip {settled[0]} to {last[0]}: committed {last[1] - settled[1]:+d} KB, "
              f"working set {last[2] - settled[2]:+d} KB, GDI objects {last[3] - settled[3]:+d}")


def atlas_and_scale(args):
    if args.atlas_rounds > 0:
        atlas_rows.atlas_row(args.build, args.work, args.seed, args.atlas_rounds,
                             args.atlas_animations, args.node_modules)
    scale = [int(n) for n in args.scale.split(",") if n]
    if scale and args.scale_rounds > 0:
        atlas_rows.scale_rows(args.build, args.work, args.seed, args.scale_rounds, scale)
    print_load("of the atlas rows")


def print_load(when):
    try:
        load = os.getloadavg()
        print(f"load average at the end {when}: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} "
              f"on {os.cpu_count()} cores")
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the build folder (wine-run, bench/)")
    parser.add_argument("--work", required=True, help="folder for strips and sheets")
    parser.add_argument("--sizes", default="small,medium,large",
                        help="the strips' sizes ('': only the atlas and scale rows)")
    parser.add_argument("--strips", type=int, default=0, help="strips per group (0: by size)")
    parser.add_argument("--groups", default="",
                        help="only the groups whose name holds one of these words, e.g. "
                             "'jpg,alpha' ('': every group)")
    parser.add_argument("--seed", type=int, default=16)
    parser.add_argument("--memory", type=int, default=0, help="strips in the memory batch")
    parser.add_argument("--rounds", type=int, default=15,
                        help="ours, the floors and PIL take turns this often")
    parser.add_argument("--im-rounds", type=int, default=3, help="ImageMagick runs this often")
    parser.add_argument("--no-imagemagick", action="store_true")
    parser.add_argument("--progress-cost", action="store_true",
                        help="ours also without the progress checks, taking turns with ours")
    parser.add_argument("--serial", action="store_true",
                        help="ours also with every sheet saved on the batch's thread")
    parser.add_argument("--atlas-rounds", type=int, default=7,
                        help="the atlas row: ours and free-tex-packer-core take turns this often "
                             "(0: no atlas row)")
    parser.add_argument("--atlas-animations", type=int, default=195,
                        help="the atlas row packs the first N animations of the generated set")
    parser.add_argument("--scale", default="1000,10000",
                        help="the scale rows: numbers of small strips in one atlas ('': none)")
    parser.add_argument("--scale-rounds", type=int, default=3)
    parser.add_argument("--node-modules", default=os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "third_party", "node",
        "node_modules"), help="where scripts/setup installed the npm packages")
    args = parser.parse_args()

    sizes = [s for s in args.sizes.split(",") if s]
    for s in sizes:
        if s not in SIZES:
            sys.exit(f"bench: unknown size {s}")
    os.makedirs(args.work, exist_ok=True)
    if not sizes:
        atlas_and_scale(args)
        return
    groups = make_strips(args.work, sizes, args.strips, args.seed)
    words = [w for w in args.groups.split(",") if w]
    if words:
        groups = [g for g in groups if any(w in g[0] for w in words)]
        if not groups:
            sys.exit(f"bench: no group's name holds any of {args.groups}")

    # The machine is shared and its speed changes from one moment to the next: ours, the floor
    # on one thread and on every core, and PIL take turns group by group, round after round, and
    # each way's figure is its median round. The best rounds are compared too.
    plains = {} if args.progress_cost else None
    (ours_rounds, floor_rounds, core_rounds, pil_rounds, serial_rounds, cpus, threads,
     sheets) = run_peers(args.build, args.work, groups, args.rounds, plains, args.serial)
    ways = ["floor", "cores", "pil"] + (["serial"] if args.serial else [])
    im_rounds = []
    if not args.no_imagemagick:
        for _ in range(args.im_rounds):
            im_rounds.append(run_imagemagick(args.work, groups))
    im = None if not im_rounds or im_rounds[0] is None else im_rounds
    if im is None:
        print("ImageMagick (/usr/bin/convert, /usr/bin/montage) not run: its column is empty")

    ms = lambda us: us / 1000.0
    # Per round, the mean of each column over the group's strips; the median round by whole
    # time gives the row, the best round the "best" ratio.
    def rounds_of(per_round, group):
        means = [tuple(statistics.mean(r[k] for r in rnd[group]) for k in range(4))
                 for rnd in per_round]
        return sorted(means, key=lambda t: t[3])

    def median(values):
        return values[(len(values) - 1) // 2]

    def head(group, size, fmt, content):
        """A row's first columns."""
        return f"{size:<7}{fmt + '*' if options_of(group) else fmt:<7}{content:<8}"

    rows = []
    for group, size, fmt, content, paths in groups:
        core_times = sorted(rnd[group] for rnd in core_rounds)
        rows.append((group, size, fmt, content, len(paths), rounds_of(ours_rounds, group),
                     rounds_of(floor_rounds, group), core_times, rounds_of(pil_rounds, group)))

    print(f"\nms per strip, median of {args.rounds} rounds; ours = the batch's time a strip "
          f"(sheets saved in the background); {threads} cores = the floor on {threads} threads, "
          f"whole strips, one a thread; floor = the same on one thread; PIL = one Python process, "
          f"open + crop + paste + save; IM: best of {args.im_rounds}; best = ours/{threads} cores "
          f"of the two ways' best rounds")
    cores_name = f"{threads} cores"
    print(f"{'size':<7}{'format':<7}{'content':<8}{'n':>4}{'ours':>9}{cores_name:>9}{'floor':>9}"
          f"{'PIL':>9}{'IM':>9}{'ours/cores':>11}{'best':>6}{'ours/PIL':>9}{'ours/IM':>8}"
          f"  same pixels")
    # The worst ratio of each kind over every row, png* included: there every way writes the same.
    worst = {"cores small": 0.0, "cores medium, large": 0.0, "PIL small": 0.0,
             "PIL medium, large": 0.0, "IM": 0.0}
    differing = []
    for group, size, fmt, content, n, mine, floor_, core_times, pil in rows:
        whole = median(mine)[3]
        ratio_cores = whole / median(core_times)
        ratio_pil = whole / median(pil)[3]
        sizes = "small" if size == "small" else "medium, large"
        worst["cores " + sizes] = max(worst["cores " + sizes], ratio_cores)
        worst["PIL " + sizes] = max(worst["PIL " + sizes], ratio_pil)
        im_text = ratio_im_text = "-"
        if im:
            im_us = min(statistics.mean(rnd[group]) for rnd in im)
            im_text = f"{ms(im_us):.1f}"
            ratio_im_text = f"{whole / im_us:.2f}"
            worst["IM"] = max(worst["IM"], whole / im_us)
        same, holds = same_work(sheets, group, ways)
        if not holds:
            differing.append(group)
        print(f"{head(group, size, fmt, content)}{n:>4}{ms(whole):>9.2f}"
              f"{ms(median(core_times)):>9.2f}{ms(median(floor_)[3]):>9.2f}"
              f"{ms(median(pil)[3]):>9.2f}{im_text:>9}"
              f"{ratio_cores:>11.2f}{mine[0][3] / core_times[0]:>6.2f}{ratio_pil:>9.2f}"
              f"{ratio_im_text:>8}  {same}")
    print(f"png* = {OPTIONS}: ours, the floors and PIL write RGBA sheets and a data file each "
          f"(ImageMagick an RGB sheet, as for png)")
    print(f"worst ours/cores: small {worst['cores small']:.2f} (target at most 1.20), medium and "
          f"large {worst['cores medium, large']:.2f} (target at most 1.10); worst ours/PIL: small "
          f"{worst['PIL small']:.2f}, medium and large {worst['PIL medium, large']:.2f} (target "
          f"below 1)" + (f"; worst ours/IM {worst['IM']:.2f} (target at most 0.33)" if im else ""))

    # Where the time goes: each way's steps, from the same median rounds as above (ours' save is
    # the batch's wait for its background saves, the others' save is the whole encode).
    print(f"\nSteps, ms per strip (the median rounds above): ours load, cut, save; floor decode, "
          f"lay out, encode; PIL open, crop + paste, save")
    print(f"{'size':<7}{'format':<7}{'content':<8}{'load':>8}{'cut':>7}{'save':>8}"
          f"{'dec':>9}{'lay':>7}{'enc':>8}{'open':>9}{'crop':>7}{'save':>8}{'PIL bytes':>11}")
    for group, size, fmt, content, n, mine, floor_, core_times, pil in rows:
        steps = median(mine)[:3] + median(floor_)[:3] + median(pil)[:3]
        widths = (8, 7, 8, 9, 7, 8, 9, 7, 8)
        # PIL chooses a row filter for each row of a PNG (it has no setting for none): other
        # files for the same pixels, their size against ours.
        size_ratio = sheet_bytes(sheets, "pil", group) / sheet_bytes(sheets, "ours", group)
        print(head(group, size, fmt, content)
              + "".join(f"{ms(v):>{w}.2f}" for v, w in zip(steps, widths))
              + f"{size_ratio:>11.2f}")
    # Processor time changes less with the machine's load than the clock does: whether a way does
    # more work, or only waits longer. Wine's server works for ours and the floors outside it, and
    # Wine counts a process's time in steps of 10 ms: the mean of all rounds.
    print(f"\nProcessor time, ms per strip (mean of {args.rounds} rounds; all threads of the "
          f"process; Wine counts in steps of 10 ms a batch)")
    print(f"{'size':<7}{'format':<7}{'content':<8}{'ours':>9}{cores_name:>9}{'floor':>9}"
          f"{'PIL':>9}{'ours/cores':>11}{'ours/PIL':>9}")
    for group, size, fmt, content, n, mine, floor_, core_times, pil in rows:
        each = [statistics.mean(cpus[way][(r, group)] for r in range(args.rounds))
                for way in ("ours", "cores", "floor", "pil")]
        print(head(group, size, fmt, content) + "".join(f"{ms(v):>9.2f}" for v in each)
              + f"{each[0] / max(each[1], 1):>11.2f}{each[0] / max(each[3], 1):>9.2f}")
    if args.serial:
        print(f"\nOurs with every sheet saved on the batch's thread (serial) against the floor on "
              f"one thread, ms per strip (median rounds):")
        print(f"{'size':<7}{'format':<7}{'content':<8}{'serial':>9}{'load':>8}{'cut':>7}"
              f"{'save':>8}{'floor':>9}{'serial/floor':>13}{'ours/serial':>12}")
        for group, size, fmt, content, n, mine, floor_, core_times, pil in rows:
            load, cut, save, whole = median(rounds_of(serial_rounds, group))
            print(f"{head(group, size, fmt, content)}{ms(whole):>9.2f}{ms(load):>8.2f}"
                  f"{ms(cut):>7.2f}{ms(save):>8.2f}{ms(median(floor_)[3]):>9.2f}"
                  f"{whole / median(floor_)[3]:>13.2f}{median(mine)[3] / whole:>12.2f}")
    print_load("of the strip rows")

    if plains:
        progress_cost(ours_rounds, plains, args.rounds)
    if args.memory:
        memory_run(args.build, args.work, groups, args.memory)
    atlas_and_scale(args)
    # The times are only printed; sheets that differ from the other ways' are a fault.
    if differing:
        sys.exit(f"bench: sheets differ from the other ways' in {', '.join(differing)}")


if __name__ == "__main__":
    main()
