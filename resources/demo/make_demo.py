#!/usr/bin/env python3
"""Lays out the demo product's two payload folders at build time: the
"MAIN" folder of GlyphForge (its program, read-me, help file and made-up
sample data in sub-folders, a few MB in all) and the "ARCHIVIST" folder of
the sibling product's shared files. The data is generated from fixed seeds,
so every build packs the same bytes and nothing large is committed.

Usage: make_demo.py --program GlyphForge.exe --readme ReadMe.txt MAIN_DIR ARCHIVIST_DIR
"""
import argparse
import os
import random
import shutil


def random_bytes(rng, n):
    return rng.randbytes(n) if hasattr(rng, "randbytes") else bytes(rng.getrandbits(8) for _ in range(n))


def outline(rng, letter, points):
    """A made-up glyph outline: compressible text, like real sample files."""
    lines = [f"<glyph name=\"{letter}\" unitsPerEm=\"1000\">", "  <contour>"]
    for _ in range(points):
        lines.append(f"    <point x=\"{rng.randrange(0, 1000)}\" y=\"{rng.randrange(-200, 800)}\" "
                     f"type=\"{rng.choice(['line', 'curve', 'qcurve', 'offcurve'])}\"/>")
    lines += ["  </contour>", "</glyph>", ""]
    return "\r\n".join(lines).encode("ascii")


def font_project(rng, size):
    """A made-up font project: a header, a glyph table and packed data that
    compresses poorly, as real binary projects do."""
    header = b"CVF1" + b"GlyphForge sample project\x00".ljust(60, b"\x00")
    table = b"".join(bytes([i % 256, (i * 7) % 256, 0, 0]) * 4 for i in range(size // 64))
    body = random_bytes(rng, size - len(header) - len(table))
    return header + table + body


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_main(folder, program, readme):
    rng = random.Random(20260401)
    shutil.copyfile(program, os.path.join(folder, "GlyphForge.exe"))
    shutil.copyfile(readme, os.path.join(folder, "ReadMe.txt"))
    write(os.path.join(folder, "GlyphForge.hlp"),
          b"?_\x03\x00" + b"GlyphForge help (demo): the real help file of the product goes here.\r\n" * 40)
    for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZ":
        write(os.path.join(folder, "Samples", f"Glyph_{letter}.glyph"), outline(rng, letter, 250))
    for i, name in enumerate(["Corvane Serif", "Corvane Sans", "Corvane Mono", "Corvane Script",
                              "Corvane Display", "Corvane Text"]):
        write(os.path.join(folder, "Fonts", f"{name}.cvf"), font_project(rng, 380_000 + 10_000 * i))
    for name in ["Serif", "Sans", "Script"]:
        write(os.path.join(folder, "Templates", f"{name}.cvt"), font_project(rng, 120_000) + outline(rng, name, 800))


def make_archivist(folder):
    rng = random.Random(20260402)
    write(os.path.join(folder, "Archivist.txt"),
          b"Corvane Archivist shared files, installed by the GlyphForge setup.\r\n")
    write(os.path.join(folder, "Catalog.cat"), font_project(rng, 60_000))
    write(os.path.join(folder, "GlyphIndex.idx"),
          b"".join(f"{i:06d} U+{0x20 + i:04X} glyph{i}\r\n".encode("ascii") for i in range(4000)))
    write(os.path.join(folder, "Shared", "Corvane.dic"),
          b"\r\n".join(w.encode("ascii") for w in sorted({f"w{rng.randrange(10**6)}" for _ in range(3000)})))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("main_dir")
    parser.add_argument("archivist_dir")
    args = parser.parse_args()
    # Start from empty folders so that a file dropped from the demo also
    # leaves the cabinet.
    for folder in (args.main_dir, args.archivist_dir):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    make_main(args.main_dir, args.program, args.readme)
    make_archivist(args.archivist_dir)


if __name__ == "__main__":
    main()
