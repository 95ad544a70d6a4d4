#!/usr/bin/env python3
"""Tests of the cvzb container tool: pack/unpack round trips of arbitrary
files, unpacking containers written by another zlib (Python's), and the
refusal of damaged containers with exit code 1 and no output file.

Usage: cvzb_test.py PATH_TO_CVZB
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

CVZB = sys.argv[1]
failures = []


def run(*args):
    return subprocess.run([CVZB, *args], capture_output=True, text=True)


def check(condition, what):
    if not condition:
        failures.append(what)


def container(payload, magic=b"CVZB", length=None, level=6):
    stream = zlib.compress(payload, level)
    return magic + struct.pack("<I", len(payload) if length is None else length) + stream


def main():
    work = tempfile.mkdtemp(prefix="cvzb_test_")
    try:
        rng = random.Random(1234)
        round_trips = {
            "empty": b"",
            "one byte": b"\x00",
            "text": b"GlyphForge installs fonts.\r\n" * 5000,
            "random": bytes(rng.getrandbits(8) for _ in range(200_000)),
            "zeros (high ratio)": bytes(3_000_000),
        }
        for name, payload in round_trips.items():
            source = os.path.join(work, "in.bin")
            packed = os.path.join(work, "packed.cvzb")
            back = os.path.join(work, "back.bin")
            with open(source, "wb") as f:
                f.write(payload)
            r = run("pack", source, packed)
            check(r.returncode == 0, f"pack {name}: exit {r.returncode} {r.stderr}")
            with open(packed, "rb") as f:
                data = f.read()
            check(data[:4] == b"CVZB", f"pack {name}: magic {data[:4]!r}")
            check(struct.unpack("<I", data[4:8])[0] == len(payload), f"pack {name}: length field")
            check(data[8:10] == b"\x78\x9c", f"pack {name}: zlib header {data[8:10].hex()}")
            check(zlib.decompress(data[8:]) == payload, f"pack {name}: stream does not inflate to the input")
            r = run("unpack", packed, back)
            check(r.returncode == 0, f"unpack {name}: exit {r.returncode} {r.stderr}")
            with open(back, "rb") as f:
                check(f.read() == payload, f"unpack {name}: bytes differ")
            for p in (source, packed, back):
                os.remove(p)

        # Containers written by another program; what unpack must make of them
        # (None: refused with exit 1 and no output).
        payload = b"Corvane Archivist shared file\n" * 300
        stream = zlib.compress(payload)
        foreign = {
            "python zlib, default level": (container(payload), payload),
            "python zlib, level 9": (container(payload, level=9), payload),
            "lower-case magic": (container(payload, magic=b"cvzb"), payload),
            "mixed-case magic": (container(payload, magic=b"CvZb"), payload),
            "length one larger": (container(payload, length=len(payload) + 1), payload),
            "length one smaller": (container(payload, length=len(payload) - 1), None),
            "wrong magic": (container(payload, magic=b"CVZA"), None),
            "truncated stream": (container(payload)[:-20], None),
            "corrupt adler-32": (container(payload)[:-1] + bytes([container(payload)[-1] ^ 1]), None),
            "corrupt deflate data": (b"CVZB" + struct.pack("<I", len(payload)) + stream[:2] + b"\xff" * 8 + stream[10:], None),
            "length near 4 GiB": (container(payload, length=0xFFFFFFFF), None),
            "length that wraps with slack": (container(payload, length=0xFFFFFFF6), None),
            "header only": (b"CVZB\x00\x00\x00\x00", None),
            "seven bytes": (b"CVZB\x00\x00\x00", None),
            "empty file": (b"", None),
        }
        for name, (data, expected) in foreign.items():
            packed = os.path.join(work, "foreign.cvzb")
            out = os.path.join(work, "out.bin")
            with open(packed, "wb") as f:
                f.write(data)
            r = run("unpack", packed, out)
            if expected is None:
                check(r.returncode == 1, f"{name}: exit {r.returncode}, expected 1")
                check(not os.path.exists(out), f"{name}: output file left behind")
                check(r.stderr.startswith("cvzb: "), f"{name}: no error message")
            else:
                check(r.returncode == 0, f"{name}: exit {r.returncode} {r.stderr}")
                with open(out, "rb") as f:
                    check(f.read() == expected, f"{name}: wrong content")
                os.remove(out)
            os.remove(packed)

        # Wrong usage exits 2; a missing input exits 1.
        usage = {
            "no arguments": ([], 2),
            "unknown command": (["squash", "a", "b"], 2),
            "missing output": (["pack", "a"], 2),
            "missing input file": (["pack", os.path.join(work, "absent"), os.path.join(work, "x")], 1),
            "unwritable output": (["pack", CVZB, os.path.join(work, "no", "such", "dir")], 1),
        }
        for name, (args, code) in usage.items():
            r = run(*args)
            check(r.returncode == code, f"{name}: exit {r.returncode}, expected {code}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
