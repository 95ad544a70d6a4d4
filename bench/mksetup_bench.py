#!/usr/bin/env python3
"""mksetup against gcab: packing a product of MEGABYTES (40 unless given;
made by tests/e2e/make_large_product.py: a third noise, a third text, a
third tables, 1,500 small files) into a whole setup.exe with mksetup, and
its two folders into cabinets with gcab -c -z, in turn, ROUNDS times each.
Prints the median times, the peak memory of each tool (its largest
resident size), the cabinets' sizes and, last, the figures:

  mksetup_vs_gcab: X.XX   time, lower is better; the goal is 1.00 or less
  size_vs_gcab: X.XX      MAIN.cab and ARCHIVIST.cab against gcab's
  mksetup_peak_mb: X      mksetup's peak memory; the goal is under 128

Needs a Windows build for its payload-free setup program (win64 or win32)
and mksetup (that build's host copy, or the native one). A product of
1024 MB needs about 3 GB of free disk beside the build for a while.

usage: bench/mksetup_bench.py [ROUNDS] [MEGABYTES]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def first(*paths):
    for p in paths:
        if os.path.exists(p):
            return p
    sys.exit("mksetup_bench: build the win64 or win32 configuration first")


def timed(command, cwd=None):
    """Seconds and peak resident kilobytes of one run of command. The peak
    is the kernel's high-water mark of the program's own memory, sampled
    while it runs (the rusage of a child would count this script's memory,
    which the child shares until its exec)."""
    peak = [0]
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL)

    def sample():
        while child.returncode is None:
            try:
                with open(f"/proc/{child.pid}/status") as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak[0] = max(peak[0], int(line.split()[1]))
            except (OSError, ValueError):
                pass
            time.sleep(0.01)

    sampler = threading.Thread(target=sample)
    sampler.start()
    child.wait()
    elapsed = time.perf_counter() - start
    sampler.join()
    if child.returncode != 0:
        sys.exit(f"mksetup_bench: {command[0]} failed ({child.returncode})")
    return elapsed, peak[0]


def files_of(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    build = os.path.join(ROOT, "build")
    mksetup = first(f"{build}/native/tools/mksetup/mksetup", f"{build}/win64/host/mksetup", f"{build}/win32/host/mksetup")
    stub = first(f"{build}/win64/kit/setup-nopayload.exe", f"{build}/win32/kit/setup-nopayload.exe")
    work = tempfile.mkdtemp(prefix="mksetup_bench_", dir=build)
    try:
        subprocess.run([sys.executable, os.path.join(ROOT, "tests/e2e/make_large_product.py"), work, str(megabytes)],
                       check=True)
        description = os.path.join(work, "large_product.ini")
        ours = [mksetup, description, "--stub", stub, "-o", os.path.join(work, "setup.exe"),
                "--payload-dir", os.path.join(work, "payload")]
        folders = {name: os.path.join(work, name) for name in ("main", "archivist")}
        listed = {name: files_of(folder) for name, folder in folders.items()}

        def gcab():
            runs = [timed(["gcab", "-c", "-z", os.path.join(work, name + ".gcab.cab"), *listed[name]], cwd=folder)
                    for name, folder in folders.items()]
            return sum(t for t, _ in runs), max(peak for _, peak in runs)

        timed(ours)  # warm the file cache
        gcab()
        mine, theirs, my_peak, their_peak = [], [], 0, 0
        for _ in range(rounds):
            t, peak = timed(ours)
            mine.append(t)
            my_peak = max(my_peak, peak)
            t, peak = gcab()
            theirs.append(t)
            their_peak = max(their_peak, peak)
        size = sum(os.path.getsize(os.path.join(work, "payload", n)) for n in ("MAIN.cab", "ARCHIVIST.cab"))
        gcab_size = sum(os.path.getsize(os.path.join(work, n + ".gcab.cab")) for n in folders)
        product = sum(os.path.getsize(os.path.join(f, n)) for name, f in folders.items() for n in listed[name])
        print(f"product: {product / 1048576:.1f} MB in {sum(map(len, listed.values()))} files")
        print(f"mksetup (whole setup.exe): median {statistics.median(mine):.3f} s of {rounds}; "
              f"peak memory {my_peak / 1024:.1f} MB; cabinets {size} bytes")
        print(f"gcab -c -z (both folders): median {statistics.median(theirs):.3f} s of {rounds}; "
              f"peak memory {their_peak / 1024:.1f} MB; cabinets {gcab_size} bytes")
        print(f"mksetup_vs_gcab: {statistics.median(m / t for m, t in zip(mine, theirs)):.2f}")
        print(f"size_vs_gcab: {size / gcab_size:.2f}")
        print(f"mksetup_peak_mb: {my_peak / 1024:.0f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
