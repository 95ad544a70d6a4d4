#!/usr/bin/env python3
"""Writes the "CVZB" container of the stand-in uninstaller that the
registration tests carry as their "UNINSTALL" resource: magic, inflated
length (little-endian), then one zlib stream."""
import struct
import sys
import zlib


def stand_in_program():
    # Same bytes as ExpectedUninstallerBytes() in the tests.
    return bytes((i * 131 + 7) & 0xFF for i in range(5000))


def main():
    data = stand_in_program()
    with open(sys.argv[1], "wb") as out:
        out.write(b"CVZB" + struct.pack("<I", len(data)) + zlib.compress(data, 9))


if __name__ == "__main__":
    main()
