#!/usr/bin/python3
"""Prepares the sample images for the codec tests and the pixels they must decode to.

The expected pixels come from programs independent of ours: Python's PIL for PNG files and
libjpeg-turbo's djpeg (integer DCT) for JPEG files; pngcheck confirms that the damaged PNG files
made here really are damaged. Every expected file is written as a line "width height channels"
followed by the samples, top row first, red-green-blue(-alpha).

usage: make_samples.py PNGSUITE TESTPNGS JPEG_TESTIMAGES OUTPUT [COPY...]

Each COPY gets the finished folder too: test programs that run at the same time each read a
copy of their own.
"""
import glob
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

from PIL import Image, ImageChops

pngsuite, testpngs, jpegimages, out = sys.argv[1:5]
copies = sys.argv[5:]
for folder in [out] + copies:
    shutil.rmtree(folder, ignore_errors=True)
os.makedirs(os.path.join(out, "png"))
os.makedirs(os.path.join(out, "jpeg"))
os.makedirs(os.path.join(out, "bmp"))
manifest = []


def write_raw(path, width, height, channels, data):
    assert len(data) == width * height * channels, path
    with open(path, "wb") as f:
        f.write(b"%d %d %d\n" % (width, height, channels))
        f.write(bytes(data))


# PNG ---------------------------------------------------------------------------------------------
# The decoding rules: palette colours with their transparency ignored, gray replicated into red,
# green and blue, 16-bit samples cut to their high byte, alpha kept only when the colour type
# carries it (4 and 6); other transparency chunks ignored.
def png_expected(path):
    with open(path, "rb") as f:
        header = f.read(33)
    bit_depth, colour_type = header[24], header[25]
    im = Image.open(path)
    im.load()
    width, height = im.size
    if colour_type & 4:
        data = im.convert("RGBA").tobytes()
        return width, height, 4, data
    if im.mode in ("I", "I;16", "I;16B"):
        assert bit_depth == 16
        data = bytearray()
        for v in im.getdata():
            data += bytes((v >> 8,) * 3)
        return width, height, 3, data
    if im.mode == "P":
        im.info.pop("transparency", None)
    return width, height, 3, im.convert("RGB").tobytes()


def add_png(source, name):
    target = os.path.join(out, "png", name)
    shutil.copyfile(source, target)
    width, height, channels, data = png_expected(target)
    write_raw(target + ".expected", width, height, channels, data)
    manifest.append("png-decode png/%s png/%s.expected" % (name, name))
    # Read with transparency kept, a transparency chunk of 8 bits or less gives PIL's alpha.
    with open(target, "rb") as f:
        whole = f.read()
    if b"tRNS" in whole and whole[24] <= 8:
        im = Image.open(target)
        data = im.convert("RGBA").tobytes()
        if whole[25] == 0 and whole[24] < 8:
            # PIL holds a gray below 8 bits against the chunk's value unscaled (a gray-4 value
            # of 1 against the pixels' 17): the transparent gray is the chunk's value widened.
            at = whole.index(b"tRNS") + 4
            clear = int.from_bytes(whole[at:at + 2], "big") * 255 // ((1 << whole[24]) - 1)
            data = b"".join(bytes((v, v, v, 0 if v == clear else 255))
                            for v in im.convert("L").getdata())
        write_raw(target + ".alpha", im.width, im.height, 4, data)
        manifest.append("png-alpha png/%s png/%s.alpha" % (name, name))


suite = sorted(glob.glob(os.path.join(pngsuite, "*.png")))
for path in suite:
    add_png(path, os.path.basename(path))
for path in sorted(glob.glob(os.path.join(pngsuite, "interlaced", "*.png"))):
    add_png(path, "interlaced-" + os.path.basename(path))
for path in sorted(glob.glob(os.path.join(testpngs, "*.png"))):
    add_png(path, "testpngs-" + os.path.basename(path))
# Noise, larger than the loader reads at once: decoded from the open file rather than memory.
noise = Image.frombytes("RGB", (256, 256), random.Random(16).randbytes(256 * 256 * 3))
noise.save(os.path.join(out, "noise.png"))
add_png(os.path.join(out, "noise.png"), "noise.png")
os.remove(os.path.join(out, "noise.png"))
assert os.path.getsize(os.path.join(out, "png", "noise.png")) > 64 * 1024

def same_pixels(first, second):
    """Twins must have one expected picture: the decode test then holds each of them to it."""
    with open(os.path.join(out, first + ".expected"), "rb") as a, \
            open(os.path.join(out, second + ".expected"), "rb") as b:
        if a.read() != b.read():
            sys.exit("make_samples: %s and %s decode differently" % (first, second))


# Interlaced members and their plain twins, by name: ibasn0g08.png and basn0g08.png.
names = {os.path.basename(p) for p in suite}
twins = [("png/" + n, "png/" + n[1:]) for n in sorted(names) if n[0] == "i" and n[1:] in names]
twins += [("png/interlaced-" + os.path.basename(p), "png/" + os.path.basename(p)[1:])
          for p in sorted(glob.glob(os.path.join(pngsuite, "interlaced", "*.png")))
          if os.path.basename(p)[1:] in names]
if len(twins) < 20:
    sys.exit("make_samples: only %d interlaced twins" % len(twins))
for twin in twins:
    same_pixels(*twin)

# libpng's own collection of hostile files: they must go through without harm.
for path in sorted(glob.glob(os.path.join(testpngs, "crashers", "*.png"))):
    name = "crasher-" + os.path.basename(path)
    shutil.copyfile(path, os.path.join(out, "png", name))
    manifest.append("png-hostile png/%s -" % name)


# Damaged copies of suite members, each broken in a way the format forbids.
def chunks(data):
    pos, found = 8, []
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        found.append((pos, length, kind))
        pos += 12 + length
    return found


def with_chunk(data, kind, change, fix_crc=True):
    data = bytearray(data)
    for pos, length, k in chunks(data):
        if k == kind:
            body = bytearray(data[pos + 8:pos + 8 + length])
            change(body)
            assert len(body) == length
            data[pos + 8:pos + 8 + length] = body
            crc = zlib.crc32(bytes(data[pos + 4:pos + 8 + length]))
            if not fix_crc:
                crc ^= 0x5A5A5A5A
            data[pos + 8 + length:pos + 12 + length] = struct.pack(">I", crc)
            return bytes(data)
    raise AssertionError(kind)


def without_chunk(data, kind):
    data = bytearray(data)
    for pos, length, k in reversed(chunks(data)):
        if k == kind:
            del data[pos:pos + 12 + length]
    return bytes(data)


def read(name):
    with open(os.path.join(pngsuite, name), "rb") as f:
        return f.read()


def set_byte(index, value):
    def change(body):
        body[index] = value
    return change


def keep(body):
    pass


def flip_zlib_header(body):
    body[0] ^= 0xFF


damaged = {
    "signature-high-bit.png": b"\x09" + read("basn0g01.png")[1:],
    "signature-letter.png": read("basn0g01.png")[:1] + b"Q" + read("basn0g01.png")[2:],
    "signature-missing.png": read("basn0g01.png")[8:],
    "crlf-added.png": read("basn0g04.png").replace(b"\n", b"\r\n"),
    "cr-removed.png": read("basn0g04.png").replace(b"\r\n", b"\n"),
    "header-checksum.png": with_chunk(read("basn0g08.png"), b"IHDR", keep, fix_crc=False),
    "colour-type-1.png": with_chunk(read("basn0g08.png"), b"IHDR", set_byte(9, 1)),
    "colour-type-9.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(9, 9)),
    "bit-depth-0.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(8, 0)),
    "bit-depth-3.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(8, 3)),
    "bit-depth-99.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(8, 99)),
    "interlace-7.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(12, 7)),
    "width-zero.png": with_chunk(read("basn2c08.png"), b"IHDR", set_byte(3, 0)),
    "no-image-data.png": without_chunk(read("basn0g01.png"), b"IDAT"),
    "no-palette.png": without_chunk(read("basn3p08.png"), b"PLTE"),
    "data-checksum.png": with_chunk(read("basn0g01.png"), b"IDAT", keep, fix_crc=False),
    "data-not-zlib.png": with_chunk(read("basn2c08.png"), b"IDAT", flip_zlib_header),
}
for name, data in sorted(damaged.items()):
    path = os.path.join(out, "png", "damaged-" + name)
    with open(path, "wb") as f:
        f.write(data)
    check = subprocess.run(["pngcheck", "-q", path], capture_output=True)
    if check.returncode == 0:
        sys.exit("make_samples: pngcheck accepts %s, which was meant to be damaged" % path)
    manifest.append("png-refuse png/damaged-%s -" % name)

# PNG files whose image data ends early: the data is first split into eight IDAT chunks (as
# encoders that write as they go do), then cut inside the sixth, so that the rows whose data
# came in the first five are whole.
def rechunked(data, pieces):
    found = chunks(data)
    idat = [c for c in found if c[2] == b"IDAT"]
    stream = b"".join(data[p + 8:p + 8 + n] for p, n, k in idat)
    size = (len(stream) + pieces - 1) // pieces
    body = b""
    for at in range(0, len(stream), size):
        part = stream[at:at + size]
        body += struct.pack(">I", len(part)) + b"IDAT" + part
        body += struct.pack(">I", zlib.crc32(b"IDAT" + part))
    return data[:idat[0][0]] + body + data[idat[-1][0] + 12 + idat[-1][1]:]


for source, name in ((os.path.join(pngsuite, "basn6a08.png"), "basn6a08.png"),
                     (os.path.join(testpngs, "rgb-8.png"), "testpngs-rgb-8.png")):
    with open(source, "rb") as f:
        data = rechunked(f.read(), 8)
    pos, length, kind = [c for c in chunks(data) if c[2] == b"IDAT"][5]
    path = os.path.join(out, "png", "cut-" + name)
    with open(path, "wb") as f:
        f.write(data[:pos + 8 + length // 2])
    manifest.append("png-cut png/cut-%s png/%s.expected" % (name, name))


# JPEG --------------------------------------------------------------------------------------------
def run(*command, **kw):
    return subprocess.run(command, check=True, capture_output=True, **kw).stdout


def parse_pnm(data):
    """djpeg's picture; gray ones are delivered with the gray value in all three channels."""
    im = Image.open(io.BytesIO(data))
    assert im.mode in ("L", "RGB"), im.mode
    return im.width, im.height, 3, im.convert("RGB").tobytes()


def jpeg_path(name):
    return os.path.join(out, "jpeg", name)


def add_jpeg(name):
    """Expected pixels from djpeg, or a refusal where djpeg itself refuses the file."""
    done = subprocess.run(["djpeg", "-dct", "int", "-pnm", jpeg_path(name)], capture_output=True)
    # Status 2 means warnings only (a premature end of the data): the picture is complete.
    if done.returncode not in (0, 2) or not done.stdout:
        manifest.append("jpeg-refuse jpeg/%s -" % name)
        return
    write_raw(jpeg_path(name) + ".expected", *parse_pnm(done.stdout))
    manifest.append("jpeg-decode jpeg/%s jpeg/%s.expected" % (name, name))


for name in ("testorig.jpg", "testimgint.jpg", "testimgari.jpg", "testorig12.jpg"):
    shutil.copyfile(os.path.join(jpegimages, name), jpeg_path(name))
    add_jpeg(name)

ppm = os.path.join(jpegimages, "testorig.ppm")
made = {
    "gray.jpg": ["cjpeg", "-grayscale", ppm],
    "gray-progressive.jpg": ["cjpeg", "-grayscale", "-progressive", ppm],
    "rgb-components.jpg": ["cjpeg", "-rgb", ppm],
    "unsampled.jpg": ["cjpeg", "-sample", "1x1", ppm],
    "restarts.jpg": ["cjpeg", "-restart", "1", ppm],
    "progressive.jpg": ["jpegtran", "-progressive", os.path.join(jpegimages, "testorig.jpg")],
}
noise.save(jpeg_path("noise.jpg"), quality=95)
add_jpeg("noise.jpg")
assert os.path.getsize(jpeg_path("noise.jpg")) > 64 * 1024
# A picture of more than 8 MB: the decoder writes its rows straight into the bitmap.
Image.open(ppm).resize((2048, 1400)).save(jpeg_path("large.jpg"), quality=75)
add_jpeg("large.jpg")
for name, command in made.items():
    with open(jpeg_path(name), "wb") as f:
        f.write(run(*command))
    add_jpeg(name)
# jpegtran rewrites the scans without touching the coefficients: the two must decode alike.
same_pixels("jpeg/progressive.jpg", "jpeg/testorig.jpg")

# CMYK as Adobe's programs write it (PIL stores it inverted, with an Adobe marker); djpeg turns
# such data into RGB by the same rule.
Image.open(ppm).convert("CMYK").save(jpeg_path("cmyk.jpg"), quality=90)
add_jpeg("cmyk.jpg")
# Black that varies across the picture, under colours that are neither none nor full: the
# conversion's rounding shows. djpeg and PIL convert it independently and must agree exactly.
r, g, b = Image.open(ppm).split()
black = Image.linear_gradient("L").resize(r.size)
Image.merge("CMYK", [ImageChops.invert(c) for c in (r, g, b)] + [black]).save(
    jpeg_path("cmyk-black.jpg"), quality=90)
add_jpeg("cmyk-black.jpg")
with open(jpeg_path("cmyk-black.jpg.expected"), "rb") as f:
    by_djpeg = f.read().split(b"\n", 1)[1]
if by_djpeg != Image.open(jpeg_path("cmyk-black.jpg")).convert("RGB").tobytes():
    sys.exit("make_samples: djpeg and PIL convert cmyk-black.jpg differently")
Image.new("CMYK", (16, 16), (0, 255, 255, 0)).save(jpeg_path("cmyk-red.jpg"), quality=95)
add_jpeg("cmyk-red.jpg")
manifest.append("jpeg-solid jpeg/cmyk-red.jpg 255,0,0")
Image.new("CMYK", (16, 16), (255, 0, 0, 0)).save(jpeg_path("cmyk-cyan.jpg"), quality=95)
manifest.append("jpeg-solid jpeg/cmyk-cyan.jpg 0,255,255")
Image.new("CMYK", (16, 16), (0, 0, 0, 128)).save(jpeg_path("cmyk-gray.jpg"), quality=95)
manifest.append("jpeg-solid jpeg/cmyk-gray.jpg 127,127,127")

# Files whose data ends early, in the scans or just before the end-of-image marker: libjpeg
# completes them with made-up rows after its "premature end" warning, so they are damaged.
for source, cuts in (("testorig.jpg", (0.3, 0.6, 0.9)), ("progressive.jpg", (0.5,)),
                     ("gray.jpg", (0.5,))):
    with open(jpeg_path(source), "rb") as f:
        data = f.read()
    for name, part in [("cut%d-%s" % (f * 100, source), data[:int(len(data) * f)]) for f in cuts] + \
            [("no-end-" + source, data[:-2])]:
        with open(jpeg_path(name), "wb") as f:
            f.write(part)
        manifest.append("jpeg-cut jpeg/%s -" % name)

# A header that claims more rows than the scan holds: the scan ends at the end-of-image marker.
with open(jpeg_path("testorig.jpg"), "rb") as f:
    data = bytearray(f.read())
sof = data.find(b"\xff\xc0")
data[sof + 5:sof + 7] = struct.pack(">H", struct.unpack(">H", data[sof + 5:sof + 7])[0] * 2)
with open(jpeg_path("taller-testorig.jpg"), "wb") as f:
    f.write(data)
manifest.append("jpeg-cut jpeg/taller-testorig.jpg -")

# Stray bytes before a marker draw only a warning from libjpeg, and such files are common: they
# still decode, to djpeg's pixels.
with open(jpeg_path("testorig.jpg"), "rb") as f:
    data = f.read()
second_marker = 4 + struct.unpack(">H", data[4:6])[0]
with open(jpeg_path("stray-bytes.jpg"), "wb") as f:
    f.write(data[:second_marker] + b"\x00\x2a\x00" + data[second_marker:])
add_jpeg("stray-bytes.jpg")

# Pictures too large for the platform, in small files: a valid all-black PNG of 32000 x 32000
# (2.9 MB; 3 GB as 24-bit pixels) and a progressive JPEG whose header claims 24000 x 24000,
# more coefficients than the decoder's memory ceiling allows.
def black_png(width, height):
    row = width * 3 + 1
    rows_per_piece = 100
    piece = zlib.compressobj(9, zlib.DEFLATED, -15)
    # A full flush makes each piece stand alone, so one compressed piece serves for all.
    body = piece.compress(bytes(row * rows_per_piece)) + piece.flush(zlib.Z_FULL_FLUSH)
    head = b"\x78\xda"
    total = row * height
    adler = ((total % 65521) << 16) | 1
    idat = head + body * (height // rows_per_piece) + b"\x03\x00" + struct.pack(">I", adler)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


with open(os.path.join(out, "png", "black_H1.png"), "wb") as f:
    f.write(black_png(32000, 32000))
manifest.append("png-huge png/black_H1.png -")
with open(jpeg_path("progressive.jpg"), "rb") as f:
    data = bytearray(f.read())
sof = data.find(b"\xff\xc2")
data[sof + 5:sof + 9] = struct.pack(">HH", 24000, 24000)
with open(jpeg_path("huge_H1.jpg"), "wb") as f:
    f.write(data)
manifest.append("jpeg-huge jpeg/huge_H1.jpg -")

# Bitmap files of 1, 8 and 24 bits, to be damaged by the loading tests.
bmp_source = Image.open(os.path.join(jpegimages, "testorig.ppm")).resize((37, 23))
for mode, name in (("1", "mono1.bmp"), ("P", "palette8.bmp"), ("RGB", "rgb24.bmp")):
    bmp_source.convert(mode).save(os.path.join(out, "bmp", name))

# Bitmap files of every kind the loader reads: 1, 4 and 8 bits with a colour table (full or
# short), 16 bits plain (5-5-5) and with bit fields, 24 and 32 bits plain and with bit fields, with
# the 40-byte header and the larger ones, top-down and bottom-up, below and above 64 KB; and those
# with a 12-byte core header, which the system loader keeps. Each pair of twins (the same pixels in
# either row order) shares one expected picture: PIL's, except for 16-bit pixels, which the system
# widens to 8 bits by repeating their top bits (PIL scales them, up to 4 apart).
def bmp_value(x, y, bits, entries):
    if bits <= 8:
        return ((x // 3) * 7 + y * 5 + (x * y) // 11) % entries
    return (x * 2654435761 ^ y * 40503 ^ (x * y) << 7) & ((1 << bits) - 1)


def bmp_table(entries):
    return [((k * 67 + 13) % 256, (k * 151 + 90) % 256, (k * 29 + 3) % 256) for k in range(entries)]


def bmp_bytes(width, height, bits, top_down, header=40, masks=None, entries=None):
    entries = entries or (1 << bits if bits <= 8 else 0)
    rows = []
    for y in range(height):
        values = [bmp_value(x, y, bits, entries) for x in range(width)]
        if bits < 8:
            row, per = bytearray((width * bits + 7) // 8), 8 // bits
            for x, v in enumerate(values):
                row[x // per] |= v << (8 - bits - (x % per) * bits)
        else:
            row = b"".join(v.to_bytes(bits // 8, "little") for v in values)
        rows.append(bytes(row) + bytes(-len(row) % 4))
    data = b"".join(rows if top_down else rows[::-1])
    table = b"".join(bytes((b, g, r)) + (b"" if header == 12 else b"\0")
                     for r, g, b in bmp_table(entries))
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, -height if top_down else height, 1, bits,
                           3 if masks else 0, len(data), 2835, 2835,
                           entries if entries != 1 << bits else 0, 0)
        fields = struct.pack("<4I", *(list(masks or (0, 0, 0)) + [0])[:4])
        if header == 40:
            info += fields[:12] if masks else b""
        else:
            extra = fields + struct.pack("<I", 0x73524742) + bytes(48)  # sRGB, no end points
            info += (extra + bytes(16))[:header - 40]
    offset = 14 + len(info) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + table + data


def widened(v, mask):
    shift = (mask & -mask).bit_length() - 1
    length = bin(mask).count("1")
    v = (v & mask) >> shift
    return ((v << (8 - length)) | (v >> (2 * length - 8))) & 0xFF


def bmp_expected(path, width, height, bits, masks):
    pil = Image.open(path).convert("RGB").tobytes()
    if bits != 16:
        return pil
    ours = bytes(widened(bmp_value(x, y, 16, 0), m) for y in range(height) for x in range(width)
                 for m in masks or (0x7C00, 0x03E0, 0x001F))
    if max(abs(a - b) for a, b in zip(ours, pil)) > 4:
        sys.exit("make_samples: PIL reads %s more than 4 apart from the widening" % path)
    return ours


BMP_KINDS = [  # name, bits, header size, bit masks, colour entries
    ("p1", 1, 40, None, None), ("p4", 4, 40, None, None), ("p4-short", 4, 40, None, 11),
    ("p8", 8, 40, None, None), ("p8-short", 8, 40, None, 40), ("p8-v5", 8, 124, None, None),
    ("r16", 16, 40, None, None), ("f16-565", 16, 40, (0xF800, 0x07E0, 0x001F), None),
    ("f16-555-v4", 16, 108, (0x7C00, 0x03E0, 0x001F), None), ("r24", 24, 40, None, None),
    ("r24-v4", 24, 108, None, None), ("r32", 32, 40, None, None),
    ("f32", 32, 40, (0xFF0000, 0xFF00, 0xFF), None),
    ("f32-xbgr", 32, 40, (0xFF000000, 0xFF0000, 0xFF00), None),
    ("f32-rgba-v5", 32, 124, (0xFF, 0xFF00, 0xFF0000, 0xFF000000), None),
]
for name, bits, header, masks, entries in BMP_KINDS:
    width = 37
    for size, height in (("small", 23), ("large", 0)):
        if not height:  # just over 64 KB of rows
            width = 333
            height = 66000 // ((width * bits + 31) // 32 * 4) + 1
        expected = "bmp/%s-%s.expected" % (name, size)
        for order in ("bottom", "top"):
            file = "bmp/%s-%s-%s.bmp" % (name, size, order)
            data = bmp_bytes(width, height, bits, order == "top", header, masks, entries)
            assert (len(data) > 65536) == (size == "large"), file
            with open(os.path.join(out, file), "wb") as f:
                f.write(data)
            pixels = bmp_expected(os.path.join(out, file), width, height, bits, masks)
            if order == "bottom":
                write_raw(os.path.join(out, expected), width, height, 3, pixels)
            else:
                with open(os.path.join(out, expected), "rb") as f:
                    if f.read().split(b"\n", 1)[1] != pixels:
                        sys.exit("make_samples: the twins of %s differ" % expected)
            manifest.append("bmp-decode %s %s" % (file, expected))
for bits in (1, 8, 24):  # core headers: bottom-up only
    file = os.path.join(out, "bmp", "core%d.bmp" % bits)
    with open(file, "wb") as f:
        f.write(bmp_bytes(37, 23, bits, False, 12))
    write_raw(file + ".expected", 37, 23, 3, Image.open(file).convert("RGB").tobytes())
    manifest.append("bmp-decode bmp/core%d.bmp bmp/core%d.bmp.expected" % (bits, bits))

# Quality references: what libjpeg's own compressor writes at these qualities.
for quality in (0, 50, 70, 100):
    with open(jpeg_path("quality%d.jpg" % quality), "wb") as f:
        f.write(run("cjpeg", "-quality", str(quality), ppm))

with open(os.path.join(out, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
for folder in copies:
    shutil.copytree(out, folder)
print("make_samples: %d entries in %s" % (len(manifest), out))
