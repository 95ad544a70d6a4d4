#!/usr/bin/env python3
"""Tests of the packaging script resources/payload/make_payload.py on a
made-up product: the cabinets keep sub-folders as backslash names and hold
every byte, the containers hold the programs, payload.rc names the four
resources, the size figures add up, and unusable folders are refused.

Usage: payload_test.py MAKE_PAYLOAD_PY HOST_CVZB
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SCRIPT, CVZB = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def cabinet_entries(path):
    """(name, size) of every CFFILE record, read from the cabinet header."""
    with open(path, "rb") as f:
        cab = f.read()
    if cab[:4] != b"MSCF":
        return []
    at = struct.unpack_from("<I", cab, 16)[0]
    count = struct.unpack_from("<H", cab, 28)[0]
    entries = []
    for _ in range(count):
        size = struct.unpack_from("<I", cab, at)[0]
        end = cab.index(b"\0", at + 16)
        entries.append((cab[at + 16:end].decode("ascii"), size))
        at = end + 1
    return entries


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(work, main, archivist, uninstaller, update):
    return subprocess.run([sys.executable, SCRIPT, "--main", main, "--archivist", archivist,
                           "--uninstaller", uninstaller, "--comctl-update", update, "--cvzb", CVZB,
                           "--out", os.path.join(work, "out"), "--generated", os.path.join(work, "gen")],
                          capture_output=True, text=True)


def main():
    work = tempfile.mkdtemp(prefix="payload_test_")
    try:
        product = {
            "Tool.exe": b"MZ" + bytes(5000),
            "Help.hlp": b"help" * 100,
            "Data/Deep/Nested/table.bin": bytes(range(256)) * 400,
            "Data/empty.txt": b"",
        }
        shared = {"Shared.dat": b"shared" * 50}
        for name, data in product.items():
            write(os.path.join(work, "main", name), data)
        for name, data in shared.items():
            write(os.path.join(work, "arch", name), data)
        write(os.path.join(work, "UnInstall.exe"), b"MZ uninstaller" * 30)
        write(os.path.join(work, "40comupd.exe"), b"MZ update" * 30)

        r = run(work, os.path.join(work, "main"), os.path.join(work, "arch"),
                os.path.join(work, "UnInstall.exe"), os.path.join(work, "40comupd.exe"))
        check(r.returncode == 0, f"packing a product: exit {r.returncode} {r.stderr}")
        out = os.path.join(work, "out")
        listed = dict(cabinet_entries(os.path.join(out, "MAIN.cab")))
        expected = {name.replace("/", "\\"): len(data) for name, data in product.items()}
        check(listed == expected, f"MAIN entries {listed} != {expected}")
        check(dict(cabinet_entries(os.path.join(out, "ARCHIVIST.cab"))) == {"Shared.dat": 300}, "ARCHIVIST entries")
        for name, source in (("UNINSTALL", "UnInstall.exe"), ("40COMUPD", "40comupd.exe")):
            with open(os.path.join(out, name + ".cvzb"), "rb") as f:
                data = f.read()
            with open(os.path.join(work, source), "rb") as f:
                original = f.read()
            check(data[:4] == b"CVZB" and data[8:10] == b"\x78\x9c", f"{name}: container header")
            check(zlib.decompress(data[8:]) == original, f"{name}: container content")

        with open(os.path.join(work, "gen", "payload.rc")) as f:
            rc = f.read()
        for line in ("MAIN CAB", "ARCHIVIST CAB", "UNINSTALL CVZB", '"40COMUPD" CVZB'):
            check(line in rc, f"payload.rc lacks {line}")
        with open(os.path.join(work, "gen", "payload_sizes.h")) as f:
            sizes = dict(l.split()[1:3] for l in f if l.startswith("#define"))
        extracted = sum(map(len, product.values())) + sum(map(len, shared.values()))
        check(sizes.get("PAYLOAD_PROGRESS_EXTRA") == f'"{extracted}"', f"progress extra {sizes}")
        check(int(sizes.get("PAYLOAD_REQUIRED_SPACE", '"0"').strip('"')) > extracted + 420, f"required space {sizes}")

        # Unchanged inputs leave the generated files untouched, so the
        # string table is not rebuilt for nothing.
        stamp = os.path.getmtime(os.path.join(work, "gen", "payload_sizes.h"))
        os.utime(os.path.join(work, "gen", "payload_sizes.h"), (stamp - 100, stamp - 100))
        run(work, os.path.join(work, "main"), os.path.join(work, "arch"),
            os.path.join(work, "UnInstall.exe"), os.path.join(work, "40comupd.exe"))
        check(os.path.getmtime(os.path.join(work, "gen", "payload_sizes.h")) == stamp - 100, "sizes rewritten")

        # Inputs that cannot make a payload are refused with a message.
        os.makedirs(os.path.join(work, "empty"))
        write(os.path.join(work, "odd", "Caf\u00e9.txt"), b"x")
        refused = {
            "missing folder": (os.path.join(work, "absent"), os.path.join(work, "arch"), "UnInstall.exe"),
            "empty folder": (os.path.join(work, "empty"), os.path.join(work, "arch"), "UnInstall.exe"),
            "non-ASCII name": (os.path.join(work, "odd"), os.path.join(work, "arch"), "UnInstall.exe"),
            "missing program": (os.path.join(work, "main"), os.path.join(work, "arch"), "absent.exe"),
        }
        for name, (main_dir, arch_dir, program) in refused.items():
            r = run(work, main_dir, arch_dir, os.path.join(work, program), os.path.join(work, "40comupd.exe"))
            check(r.returncode != 0, f"{name}: accepted")
            check("make_payload:" in r.stderr, f"{name}: no message ({r.stderr.strip()})")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
