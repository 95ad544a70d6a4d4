#!/usr/bin/env python3
"""Writes small stored (uncompressed) cabinets for the extraction tests,
with names, attributes and dates that gcab cannot produce: names that try
to leave the destination folder, attribute bits beyond 0x27, capital .HLP.

usage: make_test_cabinets.py OUTPUT_DIR
"""
import os
import struct
import sys

DATE = (2021 - 1980) << 9 | 3 << 5 | 14      # 2021-03-14
TIME = 15 << 11 | 9 << 5 | (26 // 2)          # 15:09:26


def cabinet(files):
    """files: list of (name, content bytes, attributes)."""
    data = b''.join(content for _, content, _ in files)
    blocks = [data[i:i + 32768] for i in range(0, len(data), 32768)] or [b'']
    entries = b''
    offset = 0
    for name, content, attributes in files:
        entries += struct.pack('<IIHHHH', len(content), offset, 0, DATE, TIME, attributes) + name.encode('cp1252') + b'\0'
        offset += len(content)
    header_size = 36
    folder_size = 8
    files_offset = header_size + folder_size
    data_offset = files_offset + len(entries)
    data_blocks = b''.join(struct.pack('<IHH', 0, len(b), len(b)) + b for b in blocks)
    total = data_offset + len(data_blocks)
    header = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, total, 0, files_offset, 0, 3, 1, 1, len(files), 0, 0, 0)
    folder = struct.pack('<IHH', data_offset, len(blocks), 0)
    return header + folder + entries + data_blocks


def truncate_blocks(cab):
    """The folder claims no data blocks although its file has bytes: the
    decoder runs out of blocks and asks for the next cabinet."""
    folder_offset = 36
    return cab[:folder_offset + 4] + struct.pack('<H', 0) + cab[folder_offset + 6:]


def content(seed, size):
    return bytes((seed * 31 + i * 7) % 251 for i in range(size))


CABINETS = {
    'tree.cab': [
        ('readme.txt', b'GlyphForge read-me\r\n', 0x20),
        ('data\\fonts\\sample.glyph', content(1, 70000), 0x20),
        ('data\\empty.bin', b'', 0x20),
        ('GlyphForge.HLP', content(2, 1000), 0x20),
        ('flags.bin', content(3, 10), 0x01 | 0x02 | 0x04 | 0x20 | 0x40 | 0x80 | 0x100),
    ],
    'archivist.cab': [
        ('shared\\common.dat', content(4, 5000), 0x20),
        ('shared\\new.dat', content(5, 300), 0x20),
    ],
    'escape.cab': [
        ('ok.txt', b'ok', 0x20),
        ('..\\escaped.txt', b'bad', 0x20),
        ('C:\\absolute.txt', b'bad', 0x20),
        ('\\rooted.txt', b'bad', 0x20),
        ('sub\\..\\..\\up.txt', b'bad', 0x20),
        ('NUL', b'bad', 0x20),
        ('COM1.txt', b'bad', 0x20),
        ('name.', b'bad', 0x20),
        ('last.txt', b'last', 0x20),
    ],
    'single.cab': [
        ('one.txt', b'one file', 0x20),
    ],
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, files in CABINETS.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(cabinet(files))
    with open(os.path.join(out, 'truncated.cab'), 'wb') as f:
        f.write(truncate_blocks(cabinet([('lost.txt', b'never arrives', 0x20)])))
    with open(os.path.join(out, 'notacab.cab'), 'wb') as f:
        f.write(b'This is not a cabinet at all.' * 4)
    # The test program carries tree.cab as its payload, as the setup program
    # does its own: the extraction learns the names ahead from there.
    with open(os.path.join(out, 'payload.rc'), 'w') as f:
        for resource, name in (('MAIN', 'tree.cab'), ('ARCHIVIST', 'archivist.cab')):
            f.write('%s CAB "%s"\n' % (resource, os.path.join(os.path.abspath(out), name).replace('\\', '/')))


if __name__ == '__main__':
    main()
