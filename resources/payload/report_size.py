#!/usr/bin/env python3
"""Prints the size of the setup program without its payload and of its
sections after each build; with --check, fails when its code passes the
budget or unwind tables came back (the size test of the suite).

Usage: report_size.py SETUP_NOPAYLOAD_EXE SETUP_EXE TEXT_BUDGET_BYTES
       report_size.py --check SETUP_NOPAYLOAD_EXE TEXT_BUDGET_BYTES
"""
import os
import struct
import sys


def sections(path):
    """The PE image's sections: name to size in memory."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    found = {}
    for i in range(count):
        raw_name, virtual_size = struct.unpack_from("<8sI", data, table + 40 * i)
        found[raw_name.rstrip(b"\0").decode("ascii", "replace")] = virtual_size
    return found


def describe(path, budget):
    parts = sections(path)
    return (f"{os.path.getsize(path)} bytes; .text {parts.get('.text', 0)} (budget {budget}), "
            + ", ".join(f"{name} {size}" for name, size in parts.items() if name != ".text"))


if sys.argv[1] == "--check":
    stub, budget = sys.argv[2], int(sys.argv[3])
    parts = sections(stub)
    print("setup.exe without payload:", describe(stub, budget))
    problems = []
    if parts.get(".text", 0) > budget:
        problems.append(f".text is {parts['.text'] - budget} bytes over its budget of {budget}")
    problems += [f"{name} is back: the program links something that unwinds" for name in parts
                 if name.startswith(".eh_fram")]
    for problem in problems:
        print(problem, "(see README: Size)")
    sys.exit(1 if problems else 0)

bare, full, budget = sys.argv[1], sys.argv[2], int(sys.argv[3])
line = "setup.exe without payload: " + describe(bare, budget)
if os.path.exists(full):
    line += f"; with payload: {os.path.getsize(full)} bytes"
print(line)
