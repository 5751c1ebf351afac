#!/usr/bin/python3
"""Makes the seed corpora of the decoder fuzzers again (scripts/fuzz --seeds runs it).

The candidates are the pictures the test suite makes (tests/image/codecs/make_samples.py: PngSuite
and libpng's test pictures, libjpeg-turbo's test images and the files made from them, bitmap files
of every kind), small pictures of every kind made here with PIL and libjpeg-turbo's cjpeg and
jpegtran, and the corpus as it is. libFuzzer's -merge=1 keeps, smallest first, those that reach
something the others do not; they keep their names, under which corpus/README.md says where each
kind of file comes from. Files over 32 KB are left out.

usage: make_seeds.py FUZZ_BUILD LIBPNG_SOURCE LIBJPEG_TURBO_SOURCE
"""
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

build, png_src, jpeg_src = sys.argv[1:4]
here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
LARGEST = 32 * 1024
work = tempfile.mkdtemp(prefix="seeds-", dir=build)
samples = os.path.join(work, "samples")
subprocess.run(["/usr/bin/python3", os.path.join(root, "tests/image/codecs/make_samples.py"),
                os.path.join(png_src, "contrib/pngsuite"),
                os.path.join(png_src, "contrib/testpngs"), os.path.join(jpeg_src, "testimages"),
                samples], check=True, stdout=subprocess.DEVNULL)

candidates = {kind: {} for kind in ("png", "jpeg", "bmp")}  # kind: name -> bytes


def add(kind, name, data):
    """A name taken by other bytes gets a number."""
    stem, extension = os.path.splitext(name)
    number = 1
    while candidates[kind].get(name, data) != data:
        number += 1
        name = "%s-%d%s" % (stem, number, extension)
    if len(data) <= LARGEST:
        candidates[kind][name] = data


for kind, extension in (("png", ".png"), ("jpeg", ".jpg"), ("bmp", ".bmp")):
    folder = os.path.join(samples, kind)
    for name in sorted(os.listdir(folder)):
        if name.endswith(extension):
            with open(os.path.join(folder, name), "rb") as f:
                add(kind, name, f.read())

# A small picture with detail in it, cut from libjpeg-turbo's test image.
source = Image.open(os.path.join(jpeg_src, "testimages", "testorig.ppm")).crop((100, 60, 148, 92))


def saved(image, form, **options):
    out = io.BytesIO()
    image.save(out, form, **options)
    return out.getvalue()


# PNG: every colour type and depth PIL writes, odd sizes, and palettes with transparency.
for mode in ("1", "L", "LA", "P", "RGB", "RGBA", "I;16"):
    for size in ((1, 1), (7, 3), (48, 32)):
        image = source.resize(size)
        image = image.convert("L").convert(mode) if mode == "I;16" else image.convert(mode)
        add("png", "made-%s-%dx%d.png" % (mode.replace(";", ""), *size), saved(image, "PNG"))
palette = source.convert("P", palette=Image.ADAPTIVE, colors=16)
add("png", "made-P16-trns.png", saved(palette, "PNG", transparency=3))
add("png", "made-L-trns.png", saved(source.convert("L"), "PNG", transparency=128))
add("png", "made-RGB-trns.png", saved(source, "PNG", transparency=(255, 255, 255)))
# The decoder target reads odd-sized inputs with transparency kept as alpha (/alpha) and
# even-sized ones without: each picture once more with a byte after its end, read the other way.
for name, data in list(candidates["png"].items()):
    add("png", name[:-4] + "+1.png", data + b"\0")

# JPEG: what cjpeg and jpegtran write of a small picture: progressive, arithmetic, grey, every
# sampling, restart markers, optimised tables, low and high quality; CMYK from PIL.
ppm = os.path.join(work, "small.ppm")
source.save(ppm)
made = {
    "baseline": [], "progressive": ["-progressive"], "arithmetic": ["-arithmetic"],
    "arithmetic-progressive": ["-arithmetic", "-progressive"], "gray": ["-grayscale"],
    "gray-progressive": ["-grayscale", "-progressive"], "rgb": ["-rgb"],
    "sample-1x1": ["-sample", "1x1"], "sample-2x1": ["-sample", "2x1"],
    "sample-1x2": ["-sample", "1x2"], "sample-4x1": ["-sample", "4x1"],
    "sample-4x2": ["-sample", "4x2"], "restart": ["-restart", "1B"], "optimize": ["-optimize"],
    "quality-5": ["-quality", "5"], "quality-100": ["-quality", "100"],
    "smooth": ["-smooth", "50"], "dct-float": ["-dct", "float"],
}
for name, options in made.items():
    add("jpeg", "made-%s.jpg" % name,
        subprocess.run(["cjpeg"] + options + [ppm], check=True, capture_output=True).stdout)
for name, options in (("transform-progressive", ["-progressive"]), ("copy-none", ["-copy", "none"]),
                      ("restart-rows", ["-restart", "2"]), ("arithmetic-rgb", ["-arithmetic"])):
    base = candidates["jpeg"]["made-rgb.jpg" if name == "arithmetic-rgb" else "made-baseline.jpg"]
    add("jpeg", "made-%s.jpg" % name,
        subprocess.run(["jpegtran"] + options, input=base, check=True, capture_output=True).stdout)
add("jpeg", "made-cmyk.jpg", saved(source.convert("CMYK"), "JPEG", quality=80))
add("jpeg", "made-cmyk-progressive.jpg",
    saved(source.convert("CMYK"), "JPEG", quality=80, progressive=True))

# Bitmap files: PIL's 1-, 4-, 8- and 24-bit files and the kinds make_samples.py writes.
for mode in ("1", "P", "L", "RGB"):
    add("bmp", "made-%s.bmp" % mode, saved(source.resize((9, 5)).convert(mode), "BMP"))

# The corpus as it is goes in too: what fuzzing found there stays when nothing replaces it.
targets = {"png": "fuzz_png", "jpeg": "fuzz_jpeg", "bmp": "fuzz_bmp"}
total = 0
for kind, target in targets.items():
    corpus = os.path.join(here, "corpus", kind)
    for name in sorted(os.listdir(corpus)):
        with open(os.path.join(corpus, name), "rb") as f:
            add(kind, name, f.read())
    pool = os.path.join(work, "pool-" + kind)
    kept = os.path.join(work, "kept-" + kind)
    os.makedirs(pool)
    os.makedirs(kept)
    names = {}
    for name, data in candidates[kind].items():
        digest = hashlib.sha1(data).hexdigest()
        names.setdefault(digest, name)
        with open(os.path.join(pool, digest), "wb") as f:
            f.write(data)
    subprocess.run([os.path.join(build, target), "-merge=1", "-rss_limit_mb=2048",
                    "-malloc_limit_mb=1024", "-timeout=10", kept, pool],
                   check=True, capture_output=True)
    shutil.rmtree(corpus)
    os.makedirs(corpus)
    size = 0
    for digest in sorted(os.listdir(kept)):
        shutil.copyfile(os.path.join(kept, digest), os.path.join(corpus, names[digest]))
        size += os.path.getsize(os.path.join(kept, digest))
    total += size
    print("make_seeds: %s: %d of %d candidates, %d KB" % (kind, len(os.listdir(kept)),
                                                         len(candidates[kind]), size // 1024))
print("make_seeds: %d KB in all" % (total // 1024))
shutil.rmtree(work)
