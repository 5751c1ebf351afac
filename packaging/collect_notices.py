#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES.txt from the sources of the libraries linked into StripSheet.exe.

    collect_notices.py OUT PNG_SOURCE PNG_H JPEG_SOURCE JCONFIG_H ZLIB_H

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


def header_licence(header_text):
    """The licence at the top of zlib.h, from its copyright line to the authors' addresses."""
    m = re.search(r"^  (Copyright \(C\).*?madler@\S+)\n", header_text, re.M | re.S)
    if not m:
        sys.exit("collect_notices: no licence at the top of zlib.h")
    return "\n".join(l[2:] if l.startswith("  ") else l for l in m.group(1).split("\n")) + "\n"


def check_source(kind, source_version, built_version):
    if source_version != built_version:
        sys.exit(f"collect_notices: {kind} sources are {source_version}, the build links {built_version}")


def main():
    out, png_src, png_h, jpeg_src, jconfig_h, zlib_h = sys.argv[1:7]
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
        f"zlib {zlib}\n\n" + header_licence(read(zlib_h)),
    ]
    text = ("\n" + rule + "\n").join(p.rstrip("\n") + "\n" for p in parts)
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
