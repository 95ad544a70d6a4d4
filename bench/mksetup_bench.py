#!/usr/bin/env python3
"""mksetup against gcab: packing a 40 MB product (made by
tests/e2e/make_large_product.py: a third noise, a third text, a third
tables, 1,500 small files) into a whole setup.exe with mksetup, and its two
folders into cabinets with gcab -c -z, in turn, ROUNDS times each. Prints
the median times, the cabinets' sizes and, last, the two figures:

  mksetup_vs_gcab: X.XX   time, lower is better; the goal is 1.00 or less
  size_vs_gcab: X.XX      MAIN.cab and ARCHIVIST.cab against gcab's

Needs a Windows build for its payload-free setup program (win64 or win32)
and mksetup (that build's host copy, or the native one).

usage: bench/mksetup_bench.py [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def first(*paths):
    for p in paths:
        if os.path.exists(p):
            return p
    sys.exit("mksetup_bench: build the win64 or win32 configuration first")


def timed(command, cwd=None):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def files_of(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    build = os.path.join(ROOT, "build")
    mksetup = first(f"{build}/native/tools/mksetup/mksetup", f"{build}/win64/host/mksetup", f"{build}/win32/host/mksetup")
    stub = first(f"{build}/win64/kit/setup-nopayload.exe", f"{build}/win32/kit/setup-nopayload.exe")
    work = tempfile.mkdtemp(prefix="mksetup_bench_")
    try:
        subprocess.run([sys.executable, os.path.join(ROOT, "tests/e2e/make_large_product.py"), work, "40"], check=True)
        description = os.path.join(work, "large_product.ini")
        ours = [mksetup, description, "--stub", stub, "-o", os.path.join(work, "setup.exe"),
                "--payload-dir", os.path.join(work, "payload")]
        folders = {name: os.path.join(work, name) for name in ("main", "archivist")}
        listed = {name: files_of(folder) for name, folder in folders.items()}

        def gcab():
            return sum(timed(["gcab", "-c", "-z", os.path.join(work, name + ".gcab.cab"), *listed[name]], cwd=folder)
                       for name, folder in folders.items())

        timed(ours)  # warm the file cache
        gcab()
        mine, theirs = [], []
        for _ in range(rounds):
            mine.append(timed(ours))
            theirs.append(gcab())
        size = sum(os.path.getsize(os.path.join(work, "payload", n)) for n in ("MAIN.cab", "ARCHIVIST.cab"))
        gcab_size = sum(os.path.getsize(os.path.join(work, n + ".gcab.cab")) for n in folders)
        product = sum(os.path.getsize(os.path.join(f, n)) for name, f in folders.items() for n in listed[name])
        print(f"product: {product / 1048576:.1f} MB in {sum(map(len, listed.values()))} files")
        print(f"mksetup (whole setup.exe): median {statistics.median(mine):.3f} s of {rounds}; "
              f"cabinets {size} bytes")
        print(f"gcab -c -z (both folders): median {statistics.median(theirs):.3f} s of {rounds}; "
              f"cabinets {gcab_size} bytes")
        print(f"mksetup_vs_gcab: {statistics.median(m / t for m, t in zip(mine, theirs)):.2f}")
        print(f"size_vs_gcab: {size / gcab_size:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
