#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES.txt from the sources of the libraries linked into StripSheet.exe.

    collect_notices.py OUT PNG_SOURCE PNG_H JPEG_SOURCE JCONFIG_H ZLIB_COPYRIGHT ZLIB_H

The versions come from the headers the program was compiled with; a source folder of another
version than the one built is refused, so the notices cannot drift from what is linked.
"""
import os
import re
import sys


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def define(path, name):
    m = re.search(r"^#\s*define\s+" + name + r"\s+\"?([0-9.]+)", read(path), re.M)
    if not m:
        sys.exit(f"collect_notices: no {name} in {path}")
    return m.group(1)


def section(text, title, next_title):
    """The lines of a README section from its title up to the next section's title."""
    start = text.find(title + "\n")
    end = text.find("\n" + next_title + "\n", start)
    if start < 0 or end < 0:
        sys.exit(f"collect_notices: no section {title} before {next_title}")
    return text[start:end].rstrip() + "\n"


def debian_licence(copyright_text, name):
    """The copyright of the files proper and the named licence, from a machine-readable
    Debian copyright file (continuation lines start with a space, " ." is an empty line)."""
    paragraphs = copyright_text.split("\n\n")

    def unfold(lines):
        return "\n".join("" if l.strip() == "." else l[1:] for l in lines) + "\n"

    holders = None
    text = None
    for p in paragraphs:
        lines = p.strip("\n").split("\n")
        if lines[0] == "Files: *":
            c = [i for i, l in enumerate(lines) if l.startswith("Copyright:")][0]
            rest = [l for l in lines[c + 1:] if l.startswith(" ")]
            holders = [lines[c][len("Copyright:"):].strip()] + [l.strip() for l in rest]
        if lines[0] == "License: " + name:
            text = unfold(lines[1:])
    if not holders or not text:
        sys.exit(f"collect_notices: no copyright or licence {name} in the Debian copyright file")
    return "".join(f"Copyright (c) {h}\n" for h in holders) + "\n" + text


def check_source(kind, source_version, built_version):
    if source_version != built_version:
        sys.exit(f"collect_notices: {kind} sources are {source_version}, the build links {built_version}")


def main():
    out, png_src, png_h, jpeg_src, jconfig_h, zlib_copyright, zlib_h = sys.argv[1:8]
    png = define(png_h, "PNG_LIBPNG_VER_STRING")
    check_source("libpng", define(os.path.join(png_src, "png.h"), "PNG_LIBPNG_VER_STRING"), png)
    jpeg = define(jconfig_h, "LIBJPEG_TURBO_VERSION")
    m = re.search(r"^set\(VERSION ([0-9.]+)\)", read(os.path.join(jpeg_src, "CMakeLists.txt")), re.M)
    check_source("libjpeg-turbo", m.group(1) if m else "unknown", jpeg)
    zlib = define(zlib_h, "ZLIB_VERSION")

    rule = "=" * 78 + "\n"
    parts = [
        "StripSheet includes the following libraries, linked into StripSheet.exe.\n"
        "Their copyright notices and licences follow.\n\n"
        f"  libpng {png}\n  libjpeg-turbo {jpeg}\n  zlib {zlib}\n\n"
        "This software is based in part on the work of the Independent JPEG Group.\n",
        f"libpng {png}\n\n" + read(os.path.join(png_src, "LICENSE")),
        f"libjpeg-turbo {jpeg}\n\n" + read(os.path.join(jpeg_src, "LICENSE.md"))
        + "\n\nThe IJG License, from README.ijg\n" + "=" * 32 + "\n\n"
        + section(read(os.path.join(jpeg_src, "README.ijg")), "LEGAL ISSUES", "REFERENCES"),
        f"zlib {zlib}\n\n" + debian_licence(read(zlib_copyright), "Zlib"),
    ]
    text = ("\n" + rule + "\n").join(p.rstrip("\n") + "\n" for p in parts)
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
