#!/usr/bin/python3
"""The strips the end-to-end tests hand to StripSheet.exe, and the check of the sheets it wrote.

    e2e_strips.py make STRIPS     writes every strip (and the files that are not strips) to STRIPS,
                                  and a long batch of one strip under 4000 names to STRIPS-long
    e2e_strips.py check SHEETS    compares every sheet in SHEETS with the sheet the rules give
    e2e_strips.py storm FOLDER    writes hundreds of damaged strips of every format to FOLDER, and
                                  their names to FOLDER.txt
    e2e_strips.py storm-check SHEETS   every file in SHEETS is a whole sheet of a storm strip
    e2e_strips.py engine-make STRIPS   writes the strips of the sheet option runs, and the runs
    e2e_strips.py engine-check STRIPS SHEETS   checks each run's sheets and data files in SHEETS
    e2e_strips.py dialog-check STRIPS SHEETS   the same for the runs with the file dialog's options

Every frame's pixels come from a formula here, so the expected sheet follows from the layout rules
alone: frame i of a strip of n frames is cut at (fw * i, 0) for H or (0, fh * i) for V, with
fw = strip width div n (fh likewise), and lands at (fw * (i mod 8), fh * (i div 8)) on a black
sheet min(n, 8) frames wide and ceil(n / 8) frames high. The written sheets are decoded with
Python's PIL, which shares no code with the program.
"""
import io
import os
import shutil
import struct
import sys

from PIL import Image

BLACK = (0, 0, 0)
SPARE = (255, 255, 255)  # strip pixels past the last whole frame: they must not reach a sheet


def lossless_pixel(seed, i, x, y):
    return ((i * 53 + x * 17 + seed * 29) % 256,
            (i * 97 + y * 23 + 11 + seed) % 256,
            (x * y * 5 + i * 41 + seed * 7 + 1) % 256)


# The 40 colours of the palette strips.
PALETTE = [((k * 61 + 17) % 256, (k * 113 + 5) % 256, (k * 37 + 200) % 256) for k in range(40)]


def palette_index(i, x, y):
    return (i * 7 + x + y * 3) % len(PALETTE)


# JPEG frames are 32 x 32, four flat 16 x 16 blocks: on the sheet too every block is one whole
# unit of the encoder's 2 x 2 chroma subsampling.
JPEG_BLOCK = 16
JPEG_COLOURS = [(220, 40, 40), (40, 200, 60), (50, 60, 230), (230, 210, 40),
                (200, 60, 200), (40, 200, 210), (130, 130, 130), (250, 150, 60),
                (90, 40, 160), (20, 120, 40), (160, 90, 30), (240, 240, 240),
                (30, 30, 90), (180, 20, 90), (100, 220, 140), (60, 100, 200)]


def jpeg_pixel(i, x, y):
    return JPEG_COLOURS[(i * 4 + (y // JPEG_BLOCK) * 2 + x // JPEG_BLOCK) % len(JPEG_COLOURS)]


# name, kind, direction, count, frame width, frame height, spare pixels past the last frame,
# sheet name. Between them: every format the program reads, both directions, direction letters and
# extensions in either case, leading zeros, fewer than 8 frames and more (a second row with black
# cells), frame sizes that leave strip pixels over, and odd widths (BMP row padding).
STRIPS = [
    ("hero_V10.png", "png-rgb", "V", 10, 12, 10, 0, "hero_B10.png"),
    ("ghost_H4.png", "png-rgba", "H", 4, 9, 7, 0, "ghost_B4.png"),
    ("coin_h6.png", "png-palette", "H", 6, 5, 8, 0, "coin_B6.png"),
    ("tree_H3.bmp", "bmp-24", "H", 3, 33, 20, 1, "tree_B3.bmp"),
    ("lamp_V5.bmp", "bmp-8", "V", 5, 7, 6, 0, "lamp_B5.bmp"),
    ("lamp_top_V5.bmp", "bmp-8-top-down", "V", 5, 7, 6, 0, "lamp_top_B5.bmp"),
    ("fire_H4.jpg", "jpeg", "H", 4, 32, 32, 0, "fire_B4.jpg"),
    ("Flag_v012.BMP", "bmp-24", "V", 12, 10, 4, 3, "Flag_B12.bmp"),
]


def frame_pixel(seed, kind, i, x, y):
    if kind == "jpeg":
        return jpeg_pixel(i, x, y)
    if kind.startswith(("png-palette", "bmp-8")):
        return PALETTE[palette_index(i, x, y)]
    return lossless_pixel(seed, i, x, y)


def make_strip(folder, seed, name, kind, direction, count, fw, fh, spare):
    width, height = (fw * count + spare, fh) if direction == "H" else (fw, fh * count + spare)
    paletted = kind.startswith(("png-palette", "bmp-8"))
    data = []  # palette indices or colours, row by row; past the last frame the SPARE colour
    for y in range(height):
        for x in range(width):
            i, fx, fy = (x // fw, x % fw, y) if direction == "H" else (y // fh, x, y % fh)
            if i >= count:
                data.append(len(PALETTE) if paletted else SPARE)
            else:
                data.append(palette_index(i, fx, fy) if paletted
                            else frame_pixel(seed, kind, i, fx, fy))
    path = os.path.join(folder, name)
    if paletted:
        im = Image.new("P", (width, height))
        im.putdata(data)
        flat = [c for colour in PALETTE + [SPARE] for c in colour]
        im.putpalette(flat + [0] * (768 - len(flat)))
        if kind == "png-palette":
            # Palette transparency is ignored when reading: every pixel keeps its colour.
            im.save(path, "PNG", transparency=bytes((k * 50) % 256 for k in range(len(PALETTE))))
        elif kind == "bmp-8":
            im.save(path, "BMP")
        else:
            # The same file with its rows stored top row first, as a negative height says.
            out = io.BytesIO()
            im.save(out, "BMP")
            data = bytearray(out.getvalue())
            offset, = struct.unpack_from("<I", data, 10)
            stride = (width + 3) // 4 * 4
            rows = [data[offset + y * stride:offset + (y + 1) * stride] for y in range(height)]
            data[offset:] = b"".join(reversed(rows))
            struct.pack_into("<i", data, 22, -height)
            with open(path, "wb") as f:
                f.write(data)
    elif kind == "png-rgba":
        # Alpha from fully transparent to opaque; it is dropped, the colours stay as stored.
        im = Image.new("RGBA", (width, height))
        im.putdata([c + ((n * 37) % 256,) for n, c in enumerate(data)])
        im.save(path, "PNG")
    else:
        im = Image.new("RGB", (width, height))
        im.putdata(data)
        # JPEG without chroma subsampling, so that the program reads back flat blocks: an
        # upsampled chroma edge would blend into the neighbouring blocks and ring on the second
        # encoding.
        options = {"quality": 95, "subsampling": 0} if kind == "jpeg" else {}
        im.save(path, {"png-rgb": "PNG", "bmp-24": "BMP", "jpeg": "JPEG"}[kind], **options)


def make(folder):
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    for seed, (name, kind, direction, count, fw, fh, spare, _) in enumerate(STRIPS):
        make_strip(folder, seed, name, kind, direction, count, fw, fh, spare)
    # Not strips: a text file, and a picture whose name has no "_" field.
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not a picture\n")
    Image.new("RGB", (8, 8), (10, 20, 30)).save(os.path.join(folder, "sprite.png"))
    # 40 frames in a strip 20 pixels wide: frames of no width.
    Image.new("RGB", (20, 6), (90, 90, 90)).save(os.path.join(folder, "thin_H40.png"))
    # Damaged files: a PNG whose header chunk fails its checksum, and a file that starts like a
    # bitmap file but holds nothing else of one.
    png = io.BytesIO()
    Image.new("RGB", (64, 16)).save(png, "PNG")
    png = bytearray(png.getvalue())
    png[png.index(b"IHDR") + 4] ^= 0x01  # the width changes, the checksum does not
    with open(os.path.join(folder, "broken_H2.png"), "wb") as f:
        f.write(png)
    with open(os.path.join(folder, "junk_V3.bmp"), "wb") as f:
        f.write(b"BM" + bytes((n * 89 + 7) % 256 for n in range(300)))
    # A PNG cut short half way through its picture, and one wider than an image can be.
    noise = Image.new("RGB", (64, 64))
    noise.putdata([lossless_pixel(n, n // 7, n, n * 3) for n in range(64 * 64)])
    png = io.BytesIO()
    noise.save(png, "PNG")
    with open(os.path.join(folder, "cut_H4.png"), "wb") as f:
        f.write(png.getvalue()[:len(png.getvalue()) // 2])
    Image.new("RGB", (40000, 1)).save(os.path.join(folder, "wide_H2.png"))
    # A batch that runs for many seconds, long after its progress window shows: one strip of 16
    # frames linked under 4000 names (so every sheet of it is the same file).
    long = folder.rstrip("/") + "-long"
    shutil.rmtree(long, ignore_errors=True)
    os.makedirs(long)
    make_strip(long, 99, "s0000_H16.png", "png-rgb", "H", 16, 32, 32, 0)
    for n in range(1, 4000):
        os.link(os.path.join(long, "s0000_H16.png"), os.path.join(long, f"s{n:04}_H16.png"))


def expected_sheet(seed, kind, direction, count, fw, fh):
    columns = min(count, 8)
    rows = (count + 7) // 8
    sheet = [[BLACK] * (fw * columns) for _ in range(fh * rows)]
    for i in range(count):
        left, top = fw * (i % 8), fh * (i // 8)
        for y in range(fh):
            for x in range(fw):
                sheet[top + y][left + x] = frame_pixel(seed, kind, i, x, y)
    return fw * columns, fh * rows, sheet


# Both JPEG encodings keep each flat 16 x 16 block flat: only its DC terms survive quantisation.
# At quality 70 the DC step is 10 for luminance and chrominance, in units of 1/8 of a sample, so
# each encoding moves a block by less than one level per component; the colour conversions round
# by at most one level more. 6 per channel covers both encodings with room to spare (3 was seen),
# while every two colours of JPEG_COLOURS differ by at least 40 in some channel. The sheet's chroma
# upsampling blends each block's outermost pixel ring with its neighbour's colour, so that ring is
# left out.
JPEG_TOLERANCE = 6
JPEG_RING = 2


def compare(name, kind, width, height, expected, im):
    if im.size != (width, height):
        return ["%s: %dx%d, expected %dx%d" % (name, im.size[0], im.size[1], width, height)]
    got = im.convert("RGBA" if kind == "rgba" else "RGB").load()
    errors = []
    for y in range(height):
        for x in range(width):
            want, have = expected[y][x], got[x, y]
            if kind == "jpeg":
                bx, by = x % JPEG_BLOCK, y % JPEG_BLOCK
                if min(bx, by, JPEG_BLOCK - 1 - bx, JPEG_BLOCK - 1 - by) < JPEG_RING:
                    continue
                bad = max(abs(a - b) for a, b in zip(want, have)) > JPEG_TOLERANCE
            else:
                bad = want != have
            if bad:
                errors.append("%s: pixel (%d, %d) is %s, expected %s" % (name, x, y, have, want))
                if len(errors) >= 5:
                    return errors
    return errors


def compression_problems(path, flevel):
    """A PNG file's zlib header must declare FLEVEL `flevel` (RFC 1950): 3 (levels 7 to 9) for
    sheets, 2 (the default level, 6) for the packer's pages."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(b"IDAT")
    ok = not path.endswith(".png") or (at > 0 and data[at + 5] >> 6 == flevel)
    return [] if ok else ["%s: zlib's FLEVEL is not %d" % (os.path.basename(path), flevel)]


def check(folder):
    errors = []
    expected_names = set()
    for seed, (name, kind, direction, count, fw, fh, spare, sheet) in enumerate(STRIPS):
        expected_names.add(sheet)
        path = os.path.join(folder, sheet)
        if not os.path.exists(path):
            errors.append("%s: no sheet %s" % (name, sheet))
            continue
        im = Image.open(path)
        form = {"png": "PNG", "bmp": "BMP", "jpg": "JPEG"}[sheet.rsplit(".", 1)[1]]
        if im.format != form:
            errors.append("%s: written as %s, expected %s" % (sheet, im.format, form))
        # The program writes 8-bit RGB PNG, 24-bit BMP and colour JPEG files.
        if im.mode != "RGB":
            errors.append("%s: mode %s, expected RGB" % (sheet, im.mode))
        errors += compression_problems(path, 3)
        width, height, pixels = expected_sheet(seed, kind, direction, count, fw, fh)
        errors += compare(sheet, kind, width, height, pixels, im)
    extra = sorted(set(os.listdir(folder)) - expected_names)
    if extra:
        errors.append("files that should not be there: %s" % ", ".join(extra))
    for line in errors:
        print(line)
    print("%d sheets checked, %d problems" % (len(STRIPS), len(errors)))
    return 1 if errors else 0


# The damaged-file storm: strips of two 8 x 8 frames in every format and flavour the program
# reads, each damaged in the three ways files get damaged (cut short at a byte, a few bytes
# changed, a few bytes inserted), at places drawn from a fixed seed.
STORM_KINDS = [("png-plain", "png"), ("png-interlaced", "png"), ("png-palette", "png"),
               ("jpeg-baseline", "jpg"), ("jpeg-progressive", "jpg"), ("bmp-1", "bmp"),
               ("bmp-8", "bmp"), ("bmp-24", "bmp")]
STORM_VARIANTS = 18  # of each damage, per kind


def storm_strip(kind):
    im = Image.new("RGB", (16, 8))
    im.putdata([lossless_pixel(3, x // 8, x % 8, y) for y in range(8) for x in range(16)])
    out = io.BytesIO()
    if kind == "png-plain":
        im.save(out, "PNG")
    elif kind == "png-interlaced":
        im.save(out, "PNG", interlace=1)
    elif kind == "png-palette":
        im.convert("P").save(out, "PNG")
    elif kind.startswith("jpeg"):
        im.save(out, "JPEG", quality=90, progressive=kind.endswith("progressive"))
    else:
        im.convert({"bmp-1": "1", "bmp-8": "P", "bmp-24": "RGB"}[kind]).save(out, "BMP")
    return out.getvalue()


def storm(folder):
    import random
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    rng = random.Random(11)
    names = []
    for kind, extension in STORM_KINDS:
        whole = storm_strip(kind)
        for n in range(STORM_VARIANTS * 3):
            data = bytearray(whole)
            at = rng.randrange(2, len(data))
            if n % 3 == 0:
                del data[at:]
            elif n % 3 == 1:
                for _ in range(rng.randint(1, 4)):
                    data[rng.randrange(len(data))] = rng.randrange(256)
            else:
                data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
            names.append("%s_%d_H2.%s" % (kind, n, extension))
            with open(os.path.join(folder, names[-1]), "wb") as f:
                f.write(data)
    # The list of what was written, beside the folder: the test chooses exactly these files.
    with open(folder.rstrip("/") + ".txt", "w") as f:
        f.write("".join(name + "\n" for name in sorted(names)))


def storm_check(folder):
    errors = []
    names = sorted(os.listdir(folder))
    for name in names:
        base, _, extension = name.rpartition(".")
        if not base.endswith("_B2") or extension not in ("png", "bmp", "jpg"):
            errors.append("%s: not a sheet of a storm strip" % name)
            continue
        try:
            im = Image.open(os.path.join(folder, name))
            im.load()
            if im.size != (16, 8):
                errors.append("%s: %dx%d, expected 16x8" % (name, im.size[0], im.size[1]))
        except Exception as e:  # a partial or unreadable sheet
            errors.append("%s: %s" % (name, e))
    for line in errors:
        print(line)
    print("%d storm sheets checked, %d problems" % (len(names), len(errors)))
    return 1 if errors else 0


# The sheet options: strips of every kind the program reads (name, kind, direction, count, frame
# width and height), and the runs over them (name, options, strips). A JPEG sheet is checked only
# where every edge between flat areas falls on the encoder's 16-pixel grid, as in the default
# layout, or with margin, spacing and extrusion of 16. A name in Japanese is UTF-8 in a data file.
ENGINE_STRIPS = [("rgba_H5.png", "png-rgba", "H", 5, 6, 4),
                 ("rgba16_V3.png", "png-rgba16", "V", 3, 5, 5),
                 ("trns_H4.png", "png-palette", "H", 4, 5, 3),
                 ("graya_V4.png", "png-gray-alpha", "V", 4, 4, 6),
                 ("rgb_H7.png", "png-rgb", "H", 7, 3, 5), ("bmp24_V3.bmp", "bmp-24", "V", 3, 7, 4),
                 ("bmp8_H2.bmp", "bmp-8", "H", 2, 5, 5),
                 ("\u52c7\u8005_H2.png", "png-rgba", "H", 2, 3, 3),
                 ("sprite_H6.png", "png-sprite", "H", 6, 10, 8),
                 ("spritev_V6.png", "png-sprite", "V", 6, 10, 8),
                 ("jpeg_H4.jpg", "jpeg", "H", 4, 32, 32)]
EVERY = [strip[0] for strip in ENGINE_STRIPS]
NO_JPEG = EVERY[:-1]
# The grid runs, then the packed ones (an atlas of every strip, or each strip's sheet packed),
# which engine_check rebuilds frame by frame from their data files.
ENGINE_RUNS = [("alpha", "/alpha", EVERY), ("columns", "/columns:3", EVERY),
               ("wide", "/COLUMNS:100 /json", NO_JPEG), ("spacing", "/spacing:2", NO_JPEG),
               ("margin", "/margin:3", NO_JPEG), ("extrude", "/extrude:2", NO_JPEG),
               ("json", "/json", EVERY),
               ("all", "/ALPHA /Columns:3 /spacing:1 /margin:2 /extrude:1 /json", NO_JPEG),
               ("one column", "/columns:1 /alpha /json /extrude:1", NO_JPEG),
               ("jpeg grid", "/columns:3 /spacing:16 /margin:16 /extrude:16 /json /alpha", EVERY),
               ("grid scale", "/scale:3 /pot /pivot:0,.25 /alpha /json /extrude:1", NO_JPEG),
               ("atlas", "/atlas:hero /trim /dedupe /json /pivot:0.5,1 /spacing:2 /extrude:1",
                EVERY),
               ("atlas pages", "/atlas:paged /maxsize:32 /pot /json /dedupe /margin:1", NO_JPEG),
               ("atlas many pages", "/atlas:many /maxsize:16 /json /trim", NO_JPEG),
               ("atlas rgb", "/atlas:\u52c7 /json /scale:2 /spacing:1", EVERY),
               ("packed sheets", "/trim /json /alpha /margin:2 /extrude:2 /scale:2", NO_JPEG),
               ("shared frames", "/dedupe /json /maxsize:64", NO_JPEG)]
# Frame i of a sprite strip shows picture SPRITE_FRAMES[i] (None: nothing) in its box; outside it
# every pixel is transparent, in a colour that changes from frame to frame.
SPRITE_FRAMES = [0, 1, 0, 1, None, 2]
SPRITE_BOXES = [(2, 1, 5, 4), (0, 0, 10, 8), (4, 3, 1, 1)]
# The runs of the file dialog's options area (e2e_tests.cpp): the options set there for strips
# chosen in the dialog, and remembered for the same strips dropped onto the program.
DIALOG_STRIPS = ["rgba_H5.png", "trns_H4.png", "graya_V4.png", "rgb_H7.png"]
DIALOG_RUNS = [(run, "/alpha /json /columns:4", DIALOG_STRIPS) for run in ("chosen", "dropped")]
TRNS = [(k * 50) % 256 for k in range(len(PALETTE))]


def rgba16_pixel(i, x, y):
    return ((i * 5003 + x * 9001) % 65536, (y * 7919 + 17) % 65536,
            (x * y * 3001 + i * 101) % 65536, (i * 18000 + x * 7000 + y * 3000) % 65536)


def engine_pixel(kind, i, x, y):
    """Frame i's pixel as (r, g, b, a) in 8 bits: alpha from 0 to 255, colours kept under alpha 0;
    a 16-bit strip's high bytes."""
    if kind == "png-rgba16":
        return tuple(c >> 8 for c in rgba16_pixel(i, x, y))
    alpha = (i * 71 + x * 45 + y * 19) % 256
    if kind == "png-gray-alpha":
        v = (i * 40 + x * 9 + y * 31) % 256
        return (v, v, v, alpha)
    if kind == "png-sprite":
        k = SPRITE_FRAMES[i]
        box = SPRITE_BOXES[k] if k is not None else (0, 0, 0, 0)
        if box[0] <= x < box[0] + box[2] and box[1] <= y < box[1] + box[3]:
            return ((k * 70 + x * 19) % 256, (y * 41 + 7) % 256, (x * y * 11 + k) % 256,
                    1 + (x * 37 + y * 11 + k * 50) % 255)
        return ((i * 31) % 256, (x * 13) % 256, (y * 29) % 256, 0)
    if kind == "png-palette":
        alpha = TRNS[palette_index(i, x, y)]
    return frame_pixel(5, kind, i, x, y) + (alpha if kind in ("png-rgba", "png-palette") else 255,)


def png16(path, width, height, pixel):
    """A 16-bit RGBA PNG, written by hand: PIL cannot write one."""
    import struct
    import zlib
    raw = b"".join(b"\0" + b"".join(struct.pack(">4H", *pixel(x, y)) for x in range(width))
                   for y in range(height))

    def chunk(kind, data):
        crc = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + crc
    header = struct.pack(">IIBBBBB", width, height, 16, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def engine_make(folder):
    os.makedirs(folder, exist_ok=True)
    for name, kind, direction, count, fw, fh in ENGINE_STRIPS:
        path = os.path.join(folder, name)
        size = (fw * count, fh) if direction == "H" else (fw, fh * count)
        cells = [(x // fw, x % fw, y) if direction == "H" else (y // fh, x, y % fh)
                 for y in range(size[1]) for x in range(size[0])]
        if kind == "png-rgba16":
            png16(path, size[0], size[1], lambda x, y: rgba16_pixel(*cells[y * size[0] + x]))
            continue
        im = Image.new("P" if kind in ("png-palette", "bmp-8") else "RGBA", size)
        if im.mode == "P":
            im.putdata([palette_index(*cell) for cell in cells])
            flat = [c for colour in PALETTE for c in colour]
            im.putpalette(flat + [0] * (768 - len(flat)))
        else:
            im.putdata([engine_pixel(kind, *cell) for cell in cells])
            im = im.convert({"png-rgba": "RGBA", "png-sprite": "RGBA",
                             "png-gray-alpha": "LA"}.get(kind, "RGB"))
        options = {"png-palette": {"transparency": bytes(TRNS)},
                   "jpeg": {"quality": 95, "subsampling": 0}}.get(kind, {})
        im.save(path, {"png": "PNG", "bmp": "BMP", "jpg": "JPEG"}[name[-3:]], **options)
    # A run a line: name, tab, arguments.
    with open(os.path.join(folder, "runs.txt"), "w", encoding="utf-8") as f:
        for run, options, strips in ENGINE_RUNS:
            f.write("%s\t%s %s\n" % (run, options, " ".join(strips)))
    with open(os.path.join(folder, "dialog.txt"), "w") as f:
        f.write(" ".join(DIALOG_STRIPS) + "\n")


def pivot_of(o):
    """The pivot and anchor entries of a frame with /pivot:X,Y, as numbers."""
    if "pivot" not in o:
        return {}
    x, y = (float(v) for v in o["pivot"].split(","))
    return {"pivot": {"x": x, "y": y}, "anchor": {"x": x, "y": y}}


def packed_check(strips, out, o, flags, names):
    """The pages of a packed run, from what their data files say: each page within /maxsize (a
    power of two each way with /pot), no two rectangles (with their extrusion) overlapping or
    leaving the page, each frame rebuilt from its rectangle placed at spriteSourceSize in a
    sourceSize canvas and scaled back equal to the frame PIL cuts from the strip, the extrusion
    repeating the edge, equal frames sharing one rectangle with /dedupe, and every strip's
    animation once. Returns the problems and the number of pages checked."""
    import json
    n, e, m = o["scale"], o["extrude"], o["margin"]
    trim, dedupe, pot = "trim" in flags, "dedupe" in flags, "pot" in flags
    limit = o.get("maxsize", 4096)
    atlas = o.get("atlas")
    errors, pages, seen = [], [], {}
    for name in names:
        base, count = name.rsplit("_", 1)[0], int(name.rsplit(".", 1)[0].rsplit("_", 1)[1][1:])
        if not atlas:
            pages.append(("%s_B%d.json" % (base, count), "%s_B%d.%s" % (base, count, name[-3:])))
    files = set(os.listdir(out)) if os.path.isdir(out) else set()
    if atlas:
        single = atlas + ".json" in files
        count = len([f for f in files if f.endswith(".json")])
        pages = [(atlas + ".json", atlas + ".png")] if single else [
            ("%s-%d.json" % (atlas, k), "%s-%d.png" % (atlas, k)) for k in range(count)]
    expected = {f for pair in pages for f in pair}
    if files != expected:
        errors.append("files %s, expected %s" % (sorted(files), sorted(expected)))
    for data_name, image_name in pages:
        try:
            with open(os.path.join(out, data_name), encoding="utf-8") as f:
                data = json.load(f)
            page = Image.open(os.path.join(out, image_name))
            page.load()
            errors += compression_problems(os.path.join(out, image_name), 2)
        except Exception as problem:
            errors.append("%s: %s" % (data_name, problem))
            continue
        alpha = ("alpha" in flags or trim) and image_name.endswith(".png")
        meta, (width, height) = data["meta"], page.size
        related = sorted(d for d, _ in pages if d != data_name) if atlas else []
        if (meta.get("image") != image_name or meta.get("size") != {"w": width, "h": height} or
                meta.get("scale") != "1" or meta.get("format") != ("RGBA8888" if alpha else "RGB888")
                or sorted(meta.get("related_multi_packs", [])) != related):
            errors.append("%s: meta %s" % (data_name, meta))
        if max(width, height) > limit or (pot and (width & (width - 1) or height & (height - 1))):
            errors.append("%s: a page of %dx%d" % (data_name, width, height))
        got = page.convert("RGBA")
        pixel = got.load()
        rects, shared = set(), {}
        for prefix, frame_names in data["animations"].items():
            strip_name = [s for s in names if s.rsplit("_", 1)[0] == prefix]
            seen[prefix] = seen.get(prefix, 0) + 1
            if len(strip_name) != 1:
                errors.append("%s: no strip %s" % (data_name, prefix))
                continue
            _, kind, direction, count, fw, fh = [s for s in ENGINE_STRIPS if s[0] == strip_name[0]][0]
            strip = Image.open(os.path.join(strips, strip_name[0])).convert("RGBA")
            if frame_names != ["%s_%d" % (prefix, i) for i in range(count)]:
                errors.append("%s: animation %s is %s" % (data_name, prefix, frame_names))
                continue
            for i, key in enumerate(frame_names):
                d = data["frames"][key]
                r, sss = d["frame"], d["spriteSourceSize"]
                box = (r["x"], r["y"], r["x"] + r["w"], r["y"] + r["h"])
                if (d["trimmed"] != trim or d["sourceSize"] != {"w": fw * n, "h": fh * n} or
                        (sss["w"], sss["h"]) != (r["w"], r["h"]) or d["rotated"] is not False or
                        {k: d[k] for k in ("pivot", "anchor") if k in d} != pivot_of(o)):
                    errors.append("%s: %s is %s" % (data_name, key, d))
                if box[0] - e < m or box[1] - e < m or box[2] + e > width - m or \
                        box[3] + e > height - m:
                    errors.append("%s: %s leaves the page: %s" % (data_name, key, r))
                    continue
                rects.add(box)
                # The extrusion repeats the rectangle's outermost pixels, corners into corners.
                for y in range(box[1] - e, box[3] + e):
                    for x in range(box[0] - e, box[2] + e):
                        edge = (min(max(x, box[0]), box[2] - 1), min(max(y, box[1]), box[3] - 1))
                        if pixel[x, y] != pixel[edge]:
                            errors.append("%s: %s's extrusion at (%d, %d)" % (data_name, key, x, y))
                            break
                piece = got.crop(box)
                canvas = Image.new("RGBA", (fw * n, fh * n), (0, 0, 0, 0))
                canvas.paste(piece, (sss["x"], sss["y"]))
                back = canvas.resize((fw, fh), Image.NEAREST)
                if back.resize((fw * n, fh * n), Image.NEAREST).tobytes() != canvas.tobytes():
                    errors.append("%s: %s is not enlarged %d times" % (data_name, key, n))
                at = (fw * i, 0) if direction == "H" else (0, fh * i)
                want = strip.crop(at + (at[0] + fw, at[1] + fh)).getdata()
                for have, wish in zip(back.getdata(), want):
                    if kind == "jpeg":
                        bad = max(abs(a - b) for a, b in zip(have[:3], wish[:3])) > 2
                    elif not alpha:
                        bad = have != wish[:3] + (255,)
                    else:  # a pixel cut away by trimming is transparent, whatever its colour
                        bad = have != wish and not (trim and have[3] == 0 and wish[3] == 0)
                    if bad:
                        errors.append("%s: %s is not the strip's frame" % (data_name, key))
                        break
                stored = (piece.tobytes(), sss["x"], sss["y"])
                shared.setdefault(stored, set()).add(box)
        if dedupe and any(len(boxes) > 1 for boxes in shared.values()):
            errors.append("%s: equal frames stored more than once" % data_name)
        for a in rects:
            for b in rects:
                if a < b and not (a[2] + e <= b[0] - e or b[2] + e <= a[0] - e or
                                  a[3] + e <= b[1] - e or b[3] + e <= a[1] - e):
                    errors.append("%s: rectangles %s and %s overlap" % (data_name, a, b))
    for name in names:
        if seen.get(name.rsplit("_", 1)[0]) != 1:
            errors.append("%s: in %d data files" % (name, seen.get(name.rsplit("_", 1)[0], 0)))
    return errors, len(pages)


def engine_check(strips, folder, runs=ENGINE_RUNS):
    """Each run's sheets against the layout, pixel by pixel; each data file parsed, its every
    rectangle holding the frame that PIL cuts from the strip."""
    import json
    errors, checked = [], 0
    for run, arguments, names in runs:
        words = [word[1:].partition(":") for word in arguments.split()]
        o = {"columns": 8, "spacing": 0, "margin": 0, "extrude": 0, "scale": 1}
        o.update({key.lower(): int(value) if value.isdigit() else value
                  for key, _, value in words if value})
        flags = {key.lower() for key, _, value in words if not value}
        out, expected_files = os.path.join(folder, run), set()
        if "atlas" in o or flags & {"trim", "dedupe"}:
            found, count = packed_check(strips, out, o, flags, names)
            errors += [run + "/" + problem for problem in found]
            checked += count
            continue
        for name, kind, direction, count, fw, fh in ENGINE_STRIPS:
            if name not in names:
                continue
            base = name.rsplit("_", 1)[0]
            sheet = "%s_B%d.%s" % (base, count, name[-3:])
            where, alpha = run + "/" + sheet, "alpha" in flags and sheet.endswith(".png")
            n, e = o["scale"], o["extrude"]
            cw, ch = fw * n + 2 * e, fh * n + 2 * e
            columns, rows = min(count, o["columns"]), -(-count // o["columns"])
            width = 2 * o["margin"] + columns * cw + (columns - 1) * o["spacing"]
            height = 2 * o["margin"] + rows * ch + (rows - 1) * o["spacing"]
            if "pot" in flags:
                width, height = 1 << (width - 1).bit_length(), 1 << (height - 1).bit_length()
            pixels = [[(0, 0, 0, 0 if alpha else 255)] * width for _ in range(height)]
            places = [(o["margin"] + (i % o["columns"]) * (cw + o["spacing"]) + e,
                       o["margin"] + (i // o["columns"]) * (ch + o["spacing"]) + e)
                      for i in range(count)]
            for i, (left, top) in enumerate(places):
                for y in range(-e, fh * n + e):
                    for x in range(-e, fw * n + e):
                        p = engine_pixel(kind, i, min(max(x, 0), fw * n - 1) // n,
                                         min(max(y, 0), fh * n - 1) // n)
                        pixels[top + y][left + x] = p if alpha else p[:3] + (255,)
            expected_files.add(sheet)
            try:
                im = Image.open(os.path.join(out, sheet))
                im.load()
            except Exception as problem:
                errors.append("%s: %s" % (where, problem))
                continue
            checked += 1
            errors += [run + "/" + p for p in compression_problems(os.path.join(out, sheet), 3)]
            if im.mode != ("RGBA" if alpha else "RGB"):  # /alpha makes a PNG sheet RGBA only
                errors.append("%s: mode %s" % (where, im.mode))
                continue
            if kind == "jpeg":
                pixels = [[p[:3] for p in row] for row in pixels]
            errors += [run + "/" + problem for problem in compare(
                sheet, kind if kind == "jpeg" else "rgba", width, height, pixels, im)]
            if "json" not in flags:
                continue
            data_name = sheet[:-4] + ".json"
            expected_files.add(data_name)
            try:
                with open(os.path.join(out, data_name), encoding="utf-8") as f:
                    data = json.load(f)
            except Exception as problem:
                errors.append("%s/%s: %s" % (run, data_name, problem))
                continue
            w, h = fw * n, fh * n
            frames = {"%s_%d" % (base, i): dict({
                "frame": {"x": x, "y": y, "w": w, "h": h}, "rotated": False, "trimmed": False,
                "spriteSourceSize": {"x": 0, "y": 0, "w": w, "h": h},
                "sourceSize": {"w": w, "h": h}}, **pivot_of(o)) for i, (x, y) in enumerate(places)}
            meta = {"app": "StripSheet", "version": data.get("meta", {}).get("version"),
                    "image": sheet, "format": "RGBA8888" if alpha else "RGB888",
                    "size": {"w": width, "h": height}, "scale": "1",
                    "frameSize": {"w": w, "h": h}, "columns": columns, "rows": rows,
                    "margin": o["margin"], "spacing": o["spacing"], "extrude": e}
            if (list(data.get("frames", {})) != list(frames) or data["frames"] != frames or
                    data.get("animations") != {base: list(frames)} or data.get("meta") != meta or
                    not isinstance(meta["version"], str)):
                errors.append("%s/%s: not the layout's data: %s" % (run, data_name, data))
                continue
            strip = Image.open(os.path.join(strips, name)).convert("RGBA")
            got = im.convert("RGBA")
            for i, key in enumerate(frames):
                r = data["frames"][key]["frame"]
                at = (fw * i, 0) if direction == "H" else (0, fh * i)
                want = strip.crop(at + (at[0] + fw, at[1] + fh)).resize((w, h), Image.NEAREST)
                have = got.crop((r["x"], r["y"], r["x"] + w, r["y"] + h)).getdata()
                want = list(want.getdata())
                if kind != "jpeg" and list(have) != [p if alpha else p[:3] + (255,) for p in want]:
                    errors.append("%s/%s: %s's rectangle does not hold the frame" % (run, data_name,
                                                                                     key))
        extra = sorted(set(os.listdir(out)) - expected_files) if os.path.isdir(out) else ["none"]
        if extra:
            errors.append("%s: files that should not be there: %s" % (run, ", ".join(extra)))
    for line in errors[:40]:
        print(line)
    print("%d option sheets checked, %d problems" % (checked, len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "engine-make":
        engine_make(sys.argv[2])
        sys.exit(0)
    if len(sys.argv) == 4 and sys.argv[1] == "engine-check":
        sys.exit(engine_check(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 4 and sys.argv[1] == "dialog-check":
        sys.exit(engine_check(sys.argv[2], sys.argv[3], DIALOG_RUNS))
    if len(sys.argv) == 3 and sys.argv[1] == "storm":
        storm(sys.argv[2])
        sys.exit(0)
    if len(sys.argv) == 3 and sys.argv[1] == "storm-check":
        sys.exit(storm_check(sys.argv[2]))
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    if len(sys.argv) == 3 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2]))
    sys.exit(__doc__)
