#!/usr/bin/env python3
"""Writes a made-up product of a given size and its description for
mksetup, as a maker would lay them out: the description "large_product.ini"
beside the folders it names, the licence in plain text, the product's files
in sub-folders. A third of the bytes are noise (like already-compressed
media), a third text and a third tables of slowly changing numbers; the
biggest file is noise, so that a setup made from it spends a while copying
its cabinet, and 1,500 small files make the extraction last.

usage: make_large_product.py OUT_DIR MEGABYTES [PROGRAM]
writes OUT_DIR/large_product.ini, OUT_DIR/licence.txt, OUT_DIR/main/...
and OUT_DIR/archivist/...; PROGRAM (a Windows program) becomes the
product's Atlas.exe, else a stand-in of a few bytes.
"""
import os
import random
import shutil
import sys

WORDS = ("atlas tessera map tile layer the of and to a survey grid north river "
         "road scale legend contour sheet index data file folder print").split()

DESCRIPTION = """\
; Tessera Atlas, a made-up product of the tests: English only, a licence in
; plain text, sub-folders and a large folder of files.
[Product]
AppName = Tessera Atlas
ProductName = Tessera Atlas
Version = 2.5
Publisher = Tessera Maps
WebAddress = http://tessera.example/
Program = Atlas.exe
DefaultFolder = {ProgramFilesDir}\\Tessera\\Atlas

[Files]
Main = main
Archivist = archivist

[English]
Edition = Survey Edition
HelpFile = Docs\\Atlas.txt
Licence = licence.txt
Information = information.txt
"""


PIECE = 256 * 1024


def tiled(make, rng, size):
    """size bytes from pieces of 256 KB, each made afresh (a piece repeats
    only far beyond deflate's 32 KB window, so it compresses like new)."""
    pieces = [make(rng, min(PIECE, size)) for _ in range(4)]
    out = bytearray()
    while len(out) < size:
        out += pieces[len(out) // PIECE % 4]
    return bytes(out[:size])


def text_piece(rng, size):
    words = []
    length = 0
    while length < size:
        w = rng.choice(WORDS)
        words.append(w)
        length += len(w) + 1
    return (" ".join(words)).encode()[:size]


def table_piece(rng, size):
    out = bytearray()
    value = 0
    while len(out) < size:
        value = (value + rng.randrange(7)) & 0xFFFFFFFF
        out += value.to_bytes(4, "little") + bytes((0x8B, 0x45, rng.randrange(4), 0))
    return bytes(out[:size])


def text(rng, size):
    return tiled(text_piece, rng, size)


def table(rng, size):
    return tiled(table_piece, rng, size)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_noise(path, rng, size):
    """size random bytes, drawn in pieces of a multiple of four bytes (the
    same bytes as one draw), so that a product of gigabytes can be made."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for at in range(0, size, 64 << 20):
            f.write(rng.randbytes(min(64 << 20, size - at)))


def main():
    out, megabytes = sys.argv[1], int(sys.argv[2])
    program = sys.argv[3] if len(sys.argv) > 3 else None
    rng = random.Random(20261208)
    third = megabytes * 1024 * 1024 // 3
    for sub in ("main", "archivist"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
    main_dir = os.path.join(out, "main")
    if program:
        os.makedirs(main_dir, exist_ok=True)
        shutil.copyfile(program, os.path.join(main_dir, "Atlas.exe"))
    else:
        write(os.path.join(main_dir, "Atlas.exe"), b"MZ" + bytes(1000))
    write(os.path.join(main_dir, "ReadMe.txt"), b"Tessera Atlas, a test product\r\n")
    write(os.path.join(main_dir, "Docs", "Atlas.txt"), text(rng, 20000))
    write_noise(os.path.join(main_dir, "big.bin"), rng, third)
    small = 1500
    for i in range(small):
        write(os.path.join(main_dir, "files", "%02d" % (i // 100), "%04d.dat" % i), rng.randbytes(2048))
    rest = third - small * 2048
    for i in range(8):
        write(os.path.join(main_dir, "Maps", "sheet%d.txt" % i), text(rng, third // 8))
        write(os.path.join(main_dir, "Tables", "grid%d.bin" % i), table(rng, rest // 8))
    for name in ("a", "b", "c"):
        write(os.path.join(out, "archivist", "shared", name + ".dat"), rng.randbytes(1000))
    write(os.path.join(out, "licence.txt"),
          "TESSERA ATLAS LICENCE\n\nYou may use this test product for tests only.\n"
          "Caf\u00e9 cr\u00e8me \u00e0 volont\u00e9.\n".encode())
    write(os.path.join(out, "information.txt"), b"Tessera Atlas installs maps and tables.\n")
    write(os.path.join(out, "large_product.ini"), DESCRIPTION.encode())


if __name__ == "__main__":
    main()
