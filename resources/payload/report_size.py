#!/usr/bin/env python3
"""Prints the size of the setup program without its payload after each
build, and warns when it passes the download budget.

Usage: report_size.py SETUP_NOPAYLOAD_EXE SETUP_EXE BUDGET_BYTES
"""
import os
import sys

bare, full, budget = sys.argv[1], sys.argv[2], int(sys.argv[3])
size = os.path.getsize(bare)
line = f"setup.exe without payload: {size} bytes ({size / 1024:.1f} KB, budget {budget // 1024} KB)"
if os.path.exists(full):
    line += f"; with payload: {os.path.getsize(full)} bytes"
print(line)
if size > budget:
    print(f"setup.exe without payload is {size - budget} bytes over the {budget // 1024} KB budget (see README: Size)")
