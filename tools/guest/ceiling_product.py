#!/usr/bin/env python3
"""Lays out one product for measure-ceiling.sh: MEGABYTES (of 1,048,576
bytes) in all, nearly all of it data in files of 64 MB, either noise (nothing to compress: the setup program is as large
as the product, the most a product of that size can ask of the 32-bit
address space) or zeros (compressed to almost nothing: the largest
product the setup's counters allow). Writes OUT_DIR/probe.ini, the
folders it names, and OUT_DIR/main.sums (sha256sum's list of the main
folder's files, to check the installation with). Zeros are written as
sparse files, so that they cost no disk here.

usage: ceiling_product.py OUT_DIR noise|zeros MEGABYTES NAME
"""
import hashlib
import os
import sys

PIECE = 64 << 20

DESCRIPTION = """\
; A product made to find how large a product the 32-bit setup installs.
[Product]
AppName = Probe {name}
ProductName = Ceiling Probe {name}
Version = 1.0
Publisher = Probe Maker
Program = Probe.exe

[Files]
Main = main
Archivist = archivist

[English]
Edition = {kind} {megabytes} MB
HelpFile = Probe.txt
Licence = licence.txt
Information = licence.txt
"""


def main():
    out, kind, megabytes, name = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    if kind not in ("noise", "zeros"):
        sys.exit("usage: ceiling_product.py OUT_DIR noise|zeros MEGABYTES NAME")
    data = os.path.join(out, "main", "data")
    os.makedirs(data, exist_ok=True)
    os.makedirs(os.path.join(out, "archivist"), exist_ok=True)
    sums = []

    def put(relative, content):
        with open(os.path.join(out, "main", relative), "wb") as f:
            f.write(content)
        sums.append((hashlib.sha256(content).hexdigest(), relative))

    put("Probe.exe", b"MZ" + bytes(1000))
    put("Probe.txt", b"The probe's help file.\r\n")
    shared = b"shared" * 100
    with open(os.path.join(out, "archivist", "shared.dat"), "wb") as f:
        f.write(shared)
    # The data makes up the rest, so that the product is the size asked.
    left = (megabytes << 20) - 1002 - len(b"The probe's help file.\r\n") - len(shared)
    part = 0
    while left > 0:
        size = min(PIECE, left)
        relative = f"data/part{part:03d}.bin"
        digest = hashlib.sha256()
        with open(os.path.join(out, "main", relative), "wb") as f:
            if kind == "zeros":
                f.truncate(size)
                zeros = bytes(1 << 20)
                for _ in range(size >> 20):
                    digest.update(zeros)
                digest.update(bytes(size & ((1 << 20) - 1)))
            else:
                for at in range(0, size, 1 << 20):
                    chunk = os.urandom(min(1 << 20, size - at))
                    f.write(chunk)
                    digest.update(chunk)
        sums.append((digest.hexdigest(), relative))
        left -= size
        part += 1
    with open(os.path.join(out, "licence.txt"), "wb") as f:
        f.write(b"A probe, for measuring only.\n")
    with open(os.path.join(out, "probe.ini"), "w") as f:
        f.write(DESCRIPTION.format(name=name, kind=kind, megabytes=megabytes))
    with open(os.path.join(out, "main.sums"), "w") as f:
        f.writelines(f"{digest}  {relative}\n" for digest, relative in sums)


if __name__ == "__main__":
    main()
