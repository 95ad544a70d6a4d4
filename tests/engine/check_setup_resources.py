#!/usr/bin/env python3
"""Checks, without running it, that a built setup.exe carries its four
payload resources byte for byte: "MAIN" and "ARCHIVIST" of type "CAB",
"UNINSTALL" and "40COMUPD" of type "CVZB". Reads the PE resource directory
itself, so it also checks the 32-bit program, which cannot run here.

Usage: check_setup_resources.py SETUP_EXE PAYLOAD_DIR
"""
import os
import struct
import sys

EXPECTED = {("CAB", "MAIN"): "MAIN.cab", ("CAB", "ARCHIVIST"): "ARCHIVIST.cab",
            ("CVZB", "UNINSTALL"): "UNINSTALL.cvzb", ("CVZB", "40COMUPD"): "40COMUPD.cvzb"}


def resources(image):
    """{(type, name): bytes} of every named resource of a PE image (in US
    English where it has several languages), and {(type, name, language):
    bytes} of each language's."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional = struct.unpack_from("<H", image, pe + 20)[0]
    table = []
    for i in range(sections):
        at = pe + 24 + optional + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", image, at + 8)
        table.append((image[at:at + 8].rstrip(b"\0"), rva, max(size, raw_size), raw))
    rsrc = next(s for s in table if s[0] == b".rsrc")

    def file_offset(rva):
        for _, start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside the image")

    base = rsrc[3]

    def label(entry):
        if entry & 0x80000000:
            at = base + (entry & 0x7FFFFFFF)
            n = struct.unpack_from("<H", image, at)[0]
            return image[at + 2:at + 2 + 2 * n].decode("utf-16-le")
        return entry

    found = {}

    def walk(offset, path):
        at = base + offset
        named, ids = struct.unpack_from("<HH", image, at + 12)
        for k in range(named + ids):
            entry, target = struct.unpack_from("<II", image, at + 16 + 8 * k)
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, path + [label(entry)])
            else:
                rva, size = struct.unpack_from("<II", image, base + target)
                start = file_offset(rva)
                data = image[start:start + size]
                found[(path[0], path[1], entry)] = data
                if entry == 0x409 or (path[0], path[1]) not in found:
                    found[(path[0], path[1])] = data

    walk(0, [])
    return found


def main():
    with open(sys.argv[1], "rb") as f:
        found = resources(f.read())
    failures = 0
    for key, file_name in EXPECTED.items():
        with open(os.path.join(sys.argv[2], file_name), "rb") as f:
            packed = f.read()
        if key not in found:
            print(f"FAIL: no resource {key[1]} of type {key[0]}")
            failures += 1
        elif found[key] != packed:
            print(f"FAIL: resource {key[1]} differs from {file_name}")
            failures += 1
        else:
            print(f"ok: {key[1]} ({key[0]}), {len(packed)} bytes")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
