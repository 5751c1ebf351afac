"""The bench's atlas rows.

The atlas row: the generated game art of game_art.py (195 animations, 1,474 frames) packed into
one atlas by StripSheet (`/atlas /alpha /trim /dedupe /json`, in the bench program under Wine, its
batch timed) and by free-tex-packer-core (npm; in one Node process, bench/packer_peer.js, reading
the frames' files, packing and writing timed), taking turns round after round. Both keep the same
room around every frame: free-tex-packer-core's padding 2 and extrusion 1 leave each frame's one
pixel of extrusion 2 pixels from the page's edge and 4 from the next frame's, as StripSheet's
`/extrude:1 /margin:2 /spacing:4` do. Both trim, detect identical frames and keep pages within
4096 x 4096. The packer's method is its best on these frames: of MaxRectsPacker's four methods,
with rotation and without, the one giving the smallest area. Before any timing, every frame is
rebuilt from each tool's data and pages and compared with the frame it came from. Then the same
work as whole processes, taking turns too: StripSheet.com under Wine given the 195 strips on its
command line, and Node started on the packer with the frames' names, each timed from its start to
its end.

The scale rows: 1,000 and 10,000 small strips (8 RGBA frames of 16 x 16 each) into one atlas each,
ours alone, each batch in a process of its own: the time a frame, and the process's peak working
set against four times the pages' bytes plus one strip.
"""
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

from PIL import Image

import game_art

NAME = "game"
OURS = f"/atlas:{NAME} /alpha /trim /dedupe /json /extrude:1 /margin:2 /spacing:4"
PEER = {"packer": "MaxRectsPacker", "width": 4096, "height": 4096, "padding": 2, "extrude": 1,
        "allowTrim": True, "detectIdentical": True, "removeFileExtension": True,
        "prependFolderName": False, "exporter": "JsonHash"}
METHODS = ["Smart", "SmartArea", "Square", "SquareArea"]
SMALL = (16, 16, 8)  # a small strip's frames: width, height, count


def source_frames(plan):
    """Every frame of the strips, by the name both tools give it, alpha-0 pixels made (0,0,0,0)."""
    frames = {}
    for name, path, (w, h), count in plan:
        strip = Image.open(path).convert("RGBA")
        for i in range(count):
            frames[f"{name}_{i}"] = clear(strip.crop((i * w, 0, (i + 1) * w, h)))
    return frames


def clear(picture):
    """The picture with every wholly transparent pixel (0, 0, 0, 0): what such a pixel holds
    besides its alpha is nothing a tool must keep."""
    alpha = picture.getchannel("A").point(lambda a: 255 if a else 0)
    empty = Image.new("RGBA", picture.size, (0, 0, 0, 0))
    return Image.composite(picture, empty, alpha)


def rebuild_check(folder, frames):
    """Every frame rebuilt from the data files and pages in `folder` (its rectangle placed at
    spriteSourceSize in a sourceSize canvas) against its source; returns the problems, the pages'
    sizes and their files' bytes."""
    problems, pages, seen = [], [], set()
    png_bytes = 0
    for data_file in sorted(glob.glob(os.path.join(folder, "*.json"))):
        with open(data_file, encoding="utf-8") as f:
            data = json.load(f)
        page_file = os.path.join(folder, data["meta"]["image"])
        png_bytes += os.path.getsize(page_file)
        page = Image.open(page_file).convert("RGBA")
        if [page.width, page.height] != [data["meta"]["size"]["w"], data["meta"]["size"]["h"]]:
            problems.append(f"{data_file}: meta.size is not the page's size")
        pages.append(page.size)
        for name, entry in data["frames"].items():
            r, box = entry["frame"], entry["spriteSourceSize"]
            w, h = (r["h"], r["w"]) if entry["rotated"] else (r["w"], r["h"])
            cut = page.crop((r["x"], r["y"], r["x"] + w, r["y"] + h))
            if entry["rotated"]:  # stored turned clockwise
                cut = cut.transpose(Image.Transpose.ROTATE_90)
            frame = Image.new("RGBA", (entry["sourceSize"]["w"], entry["sourceSize"]["h"]))
            frame.paste(cut, (box["x"], box["y"]) if entry["trimmed"] else (0, 0))
            seen.add(name)
            want = frames.get(name)
            if want is None or clear(frame).tobytes() != want.tobytes() or want.size != frame.size:
                problems.append(f"{data_file}: {name} is not its source frame")
    missing = sorted(set(frames) - seen)
    if missing:
        problems.append(f"{folder}: no data for {len(missing)} frames ({', '.join(missing[:3])})")
    return problems, pages, png_bytes


def area(pages):
    return sum(w * h for w, h in pages)


def grid_area(plan):
    """The sheets StripSheet writes without options: 8 frames a row."""
    return sum(w * min(count, 8) * h * -(-count // 8) for _, _, (w, h), count in plan)


class Peer:
    """free-tex-packer-core in a Node process of its own, kept between turns."""

    def __init__(self, modules):
        self.process = subprocess.Popen(Peer.command(modules), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)

    @staticmethod
    def command(modules):
        return ["node", os.path.join(os.path.dirname(os.path.abspath(__file__)), "packer_peer.js"),
                modules]

    def pack(self, frames, out, options):
        shutil.rmtree(out, ignore_errors=True)
        request = {"frames": frames, "out": out, "name": NAME, "options": options}
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        if not answer:
            sys.exit("bench: the texture packer's process ended")
        return json.loads(answer)

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def ours_runs(build, work, listing, out, arguments, on_turn=None):
    """stripsheet_bench.exe over `listing`: each batch's (round, group) -> (whole µs, processor
    µs), and its peak line. At the outside peer's turns `on_turn(round)` runs."""
    wine_run = os.path.join(build, "wine-run")
    exe = os.path.join(build, "bench", "stripsheet_bench.exe")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)  # the bench makes one level
    process = subprocess.Popen([wine_run, exe, windows_path(listing), windows_path(out)]
                               + arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    batches, peak, ended = {}, None, False
    for line in process.stdout:
        fields = line.split()
        if not fields:
            continue
        if fields[0] == "end":
            ended = True
            break
        if fields[0] == "turn":
            on_turn(int(fields[1]))
            process.stdin.write("go\n")
            process.stdin.flush()
        elif fields[0] == "batch":
            strips, whole, converted, errors, cpu = map(int, fields[3:8])
            if converted != strips or errors:
                sys.exit(f"bench: ours converted {converted} of {strips} strips of "
                         f"{fields[2]}, {errors} errors")
            batches[(int(fields[1]), fields[2])] = (whole, cpu)
        elif fields[0] == "peak":
            peak = tuple(int(v) for v in fields[1:3])
    process.stdin.close()
    status = process.wait()
    if status or not ended:
        sys.exit(f"bench: stripsheet_bench.exe failed ({status}):\n"
                 f"{process.stderr.read()[-2000:]}")
    return batches, peak


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_listing(path, group, strips, options):
    with open(path, "w") as f:
        for strip, count in strips:
            f.write(f"{group} {windows_path(strip)} H {count} {options}\n")


def median(values):
    return sorted(values)[(len(values) - 1) // 2]


def atlas_row(build, work, seed, rounds, animations, modules):
    folder = os.path.join(work, "atlas")
    plan = game_art.make_set(folder, seed, animations)
    frames = source_frames(plan)
    frame_files = [os.path.join(folder, "frames", f"{name}_{i}.png")
                   for name, _, _, count in plan for i in range(count)]
    listing = os.path.join(folder, "atlas.txt")
    write_listing(listing, "atlas", [(path, count) for _, path, _, count in plan], OURS)
    traits = game_art.describe(folder, plan)
    print(f"\nAtlas of the generated game art: {traits['animations']} animations, "
          f"{traits['frames']} frames, {traits['repeated']} repeating an earlier frame of their "
          f"strip ({traits['repeated'] / traits['frames']:.1%}), {traits['empty']} empty "
          f"({traits['empty'] / traits['frames']:.1%}), trimming leaves "
          f"{traits['trimmed share']:.1%} of the area")

    # Untimed: each tool once, its output rebuilt frame by frame, and the packer's best method.
    peer = Peer(modules)
    out = os.path.join(folder, "out")
    tries = {}
    for method in METHODS:
        for rotation in (False, True):
            options = dict(PEER, packerMethod=method, allowRotation=rotation)
            where = os.path.join(out, "peer-choice", f"{method}-{rotation}")
            tries[(method, rotation)] = area(peer.pack(frame_files, where, options)["pages"])
    method, rotation = min(tries, key=lambda k: (tries[k], k))
    best = dict(PEER, packerMethod=method, allowRotation=rotation)
    print("free-tex-packer-core's area by method: " + ", ".join(
        f"{m}{' rotating' if r else ''} {a:,}" for (m, r), a in sorted(tries.items())))
    ours_check = os.path.join(out, "check")
    ours_runs(build, work, listing, ours_check, ["--rounds", "1", "--floors", "0"])
    problems, ours_pages, ours_bytes = rebuild_check(
        os.path.join(ours_check, "ours", "0", "atlas"), frames)
    more, peer_pages, peer_bytes = rebuild_check(
        os.path.join(out, "peer-choice", f"{method}-{rotation}"), frames)
    problems += more
    if problems:
        print("\n".join(problems[:20]))
        sys.exit(f"bench: {len(problems)} frames are not rebuilt exactly from the atlases")
    print(f"every frame rebuilt from each tool's data and pages equals its source frame "
          f"({len(frames)} frames, {len(ours_pages)} pages of ours, {len(peer_pages)} of "
          f"the packer's)")

    # Timed: the two taking turns, round after round.
    answers = {}

    def peer_turn(round_):
        answers[round_] = peer.pack(frame_files, os.path.join(out, "peer", str(round_)), best)

    batches, _ = ours_runs(build, work, listing, os.path.join(out, "timed"),
                           ["--rounds", str(rounds), "--floors", "0", "--turns", "1"], peer_turn)
    peer.close()
    # The same as whole processes, from their start to their end.
    whole = {"ours": [], "peer": []}
    command = [os.path.join(build, "wine-run"), os.path.join(build, "app", "StripSheet.com"),
               "/out:" + windows_path(os.path.join(out, "process"))] + OURS.split() + [
                   windows_path(path) for _, path, _, _ in plan]
    request = json.dumps({"frames": frame_files, "out": os.path.join(out, "process-peer"),
                          "name": NAME, "options": best}) + "\n"
    for round_ in range(rounds):
        for way in (("ours", "peer") if round_ % 2 == 0 else ("peer", "ours")):
            os.makedirs(os.path.join(out, "process"), exist_ok=True)
            start = time.perf_counter()
            if way == "ours":
                done = subprocess.run(command, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            else:
                done = subprocess.run(Peer.command(modules), input=request, text=True,
                                      stdout=subprocess.DEVNULL)
            whole[way].append((time.perf_counter() - start) * 1000)
            if done.returncode != 0:
                sys.exit(f"bench: the {way} process failed ({done.returncode})")
    ours_ms = [batches[(r, "atlas")][0] / 1000 for r in range(rounds)]
    ours_cpu = statistics.mean(batches[(r, "atlas")][1] for r in range(rounds)) / 1000
    peer_ms = [answers[r]["us"] / 1000 for r in range(rounds)]
    peer_cpu = statistics.mean(answers[r]["cpu_us"] for r in range(rounds)) / 1000
    ratios = [a / b for a, b in zip(ours_ms, peer_ms)]
    ours_area, peer_area = area(ours_pages), area(peer_pages)
    print(f"median of {rounds} rounds, the two taking turns (ms: the whole batch, reading, "
          f"packing and writing; processor ms: mean, all threads)")
    peer_name = f"free-tex-packer-core, {method}{' rotating' if rotation else ''}"
    print(f"{'way':<42}{'ms':>8}{'cpu ms':>8}{'pages':>6}{'area':>11}{'PNG KB':>8}")
    for way, ms, cpu, pages, size in (
            ("StripSheet (ours)", ours_ms, ours_cpu, ours_pages, ours_bytes),
            (peer_name, peer_ms, peer_cpu, peer_pages, peer_bytes)):
        print(f"{way:<42}{median(ms):>8.0f}{cpu:>8.0f}{len(pages):>6}{area(pages):>11,}"
              f"{size // 1024:>8}")
    print(f"ours: {OURS}; the packer: padding 2, extrusion 1, trimming, identical frames found")
    print(f"ours/packer: time {median(ours_ms) / median(peer_ms):.3f} (target at most 0.25; "
          f"each round's ratio {min(ratios):.3f} to {max(ratios):.3f}), area "
          f"{ours_area / peer_area:.3f} (target at most 1); the grid sheets the atlas replaces: "
          f"{len(plan)} sheets, {grid_area(plan):,} pixels")
    print(f"whole processes from start to end, median of {rounds} rounds: StripSheet.com under "
          f"Wine {median(whole['ours']):.0f} ms, Node with free-tex-packer-core "
          f"{median(whole['peer']):.0f} ms, ours/packer "
          f"{median(whole['ours']) / median(whole['peer']):.3f}")


def scale_rows(build, work, seed, rounds, counts):
    folder = os.path.join(work, "scale")
    strips = game_art.make_small_strips(os.path.join(folder, "strips"), max(counts), seed)
    w, h, n = SMALL
    strip_bytes = w * n * h * 4
    listings = {}
    for count in counts:
        listings[count] = os.path.join(folder, f"scale{count}.txt")
        write_listing(listings[count], f"scale{count}", [(p, n) for p in strips[:count]], OURS)
    times, peaks, pages = {c: [] for c in counts}, {c: [] for c in counts}, {}
    for round_ in range(rounds):
        for count in (counts if round_ % 2 == 0 else counts[::-1]):
            out = os.path.join(folder, "out", str(count))
            batches, peak = ours_runs(build, work, listings[count], out,
                                      ["--memory-every", str(10 ** 9), "--peak", "1"])
            times[count].append(batches[(0, f"scale{count}")][0] / (count * n))
            peaks[count].append(peak)
            if count not in pages:
                written = os.path.join(out, "ours", "0", f"scale{count}")
                plan = [(os.path.basename(p)[:-7], p, (w, h), n) for p in strips[:count]]
                problems, pages[count], _ = rebuild_check(written, source_frames(plan))
                if problems:
                    print("\n".join(problems[:20]))
                    sys.exit(f"bench: the atlas of {count} strips is not its frames")
    print(f"\nScale: small strips (8 RGBA frames of 16 x 16) into one atlas, ours alone, each "
          f"batch a process; median of {rounds} rounds; peak working set of the process (KB)")
    print(f"{'strips':>7}{'frames':>8}{'µs a frame':>11}{'pages':>6}{'page KB':>9}"
          f"{'peak KB':>9}{'at start':>9}{'limit KB':>9}")
    within = []
    for count in counts:
        page_bytes = sum(4 * pw * ph for pw, ph in pages[count])
        limit = (4 * page_bytes + strip_bytes) // 1024
        peak = max(end for _, end in peaks[count])
        within.append(f"{count} {'yes' if peak < limit else 'no'}")
        print(f"{count:>7}{count * n:>8}{median(times[count]):>11.1f}{len(pages[count]):>6}"
              f"{page_bytes // 1024:>9}{peak:>9}{min(s for s, _ in peaks[count]):>9}{limit:>9}")
    first, last = counts[0], counts[-1]
    print(f"time a frame at {last} strips / at {first}: "
          f"{median(times[last]) / median(times[first]):.2f} (target at most 2); the highest "
          f"peak under four times the pages' bytes plus one strip: {', '.join(within)}")
