#!/usr/bin/env python3
"""A payload built for the tests that is large enough for staging and
extraction to last while a test cancels them: 32 MB of incompressible data
in one file (staging copies the cabinet in 32,767-byte chunks) and 1,500
small files (extraction handles them one by one).

usage: make_large_payload.py OUT_DIR UNINSTALL_CVZB COMUPD_CVZB PRODUCT_EXE
PRODUCT_EXE is the demo's GlyphForge.exe, so that the large product starts
like the demo. Writes OUT_DIR/main/..., OUT_DIR/archivist/..., MAIN.cab, ARCHIVIST.cab and
OUT_DIR/generated/payload.rc
"""
import os
import random
import subprocess
import sys


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, *name.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    return sorted(name.replace('\\', '/') for name in files)


def cabinet(folder, names, out):
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(['gcab', '-c', '-z', os.path.abspath(out), *names], cwd=folder, check=True)


def main():
    out, uninstall, comupd, program = sys.argv[1:5]
    rng = random.Random(20261208)
    with open(program, 'rb') as f:
        main_files = {'big.bin': rng.randbytes(32 * 1024 * 1024), 'ReadMe.txt': b'Large test product\r\n',
                      'GlyphForge.exe': f.read()}
    for i in range(1500):
        main_files['files\\%02d\\%04d.dat' % (i // 100, i)] = rng.randbytes(2048)
    archivist_files = {'shared\\a.dat': rng.randbytes(1000), 'shared\\b.dat': rng.randbytes(1000),
                       'shared\\c.dat': rng.randbytes(1000)}
    main_dir = os.path.join(out, 'main')
    archivist_dir = os.path.join(out, 'archivist')
    cabinet(main_dir, write_tree(main_dir, main_files), os.path.join(out, 'MAIN.cab'))
    cabinet(archivist_dir, write_tree(archivist_dir, archivist_files), os.path.join(out, 'ARCHIVIST.cab'))
    generated = os.path.join(out, 'generated')
    os.makedirs(generated, exist_ok=True)
    with open(os.path.join(generated, 'payload.rc'), 'w') as f:
        f.write('// The large test payload.\n')
        for name, typ, path in (('MAIN', 'CAB', os.path.join(out, 'MAIN.cab')),
                                ('ARCHIVIST', 'CAB', os.path.join(out, 'ARCHIVIST.cab')),
                                ('UNINSTALL', 'CVZB', uninstall), ('"40COMUPD"', 'CVZB', comupd)):
            # A statement between entries keeps windres from joining a
            # path with the next quoted name.
            f.write('LANGUAGE 9, 1\n%s %s "%s"\n' % (name, typ, os.path.abspath(path)))
    with open(os.path.join(out, 'payload.stamp'), 'w') as f:
        f.write('done\n')


if __name__ == '__main__':
    main()
