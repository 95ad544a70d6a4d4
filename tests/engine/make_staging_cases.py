#!/usr/bin/env python3
"""Writes the payload data of the staging tests: files of exact sizes
around the 32,767-byte chunk, filled with a seeded pseudo-random pattern so
that a lost, repeated or misplaced chunk shows in the comparison.

Usage: make_staging_cases.py OUT_DIR SIZE...   (writes OUT_DIR/data_SIZE.bin)
"""
import os
import random
import sys


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for size in map(int, sys.argv[2:]):
        rng = random.Random(size)
        data = rng.randbytes(size) if hasattr(rng, "randbytes") else bytes(rng.getrandbits(8) for _ in range(size))
        path = os.path.join(out, f"data_{size}.bin")
        if os.path.exists(path) and os.path.getsize(path) == size:
            continue
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
