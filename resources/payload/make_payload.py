#!/usr/bin/env python3
"""Packs a product into the four payload resources of setup.exe and writes
the resource script and the size figures that the string table uses.

  MAIN       CAB   every file under --main, sub-folders kept (gcab -c -z)
  ARCHIVIST  CAB   every file under --archivist, likewise
  UNINSTALL  CVZB  the uninstaller program, packed with cvzb
  40COMUPD   CVZB  the common-controls update package, packed with cvzb

payload.rc and payload_sizes.h are rewritten only when their text changes,
so that the interface resources are not rebuilt for nothing.

Usage: make_payload.py --main DIR --archivist DIR --uninstaller EXE
                       --comctl-update EXE --cvzb HOST_CVZB --out DIR
                       --generated DIR
(cabinets and containers go to --out, payload.rc and payload_sizes.h to
--generated)
"""
import argparse
import math
import os
import subprocess
import sys

# Free space asked for beyond the installed bytes: cluster slack, the
# uninstaller's settings file and the Start-menu links.
SPACE_MARGIN_RATIO = 1.05
SPACE_MARGIN_BYTES = 64 * 1024


def fail(message):
    print(f"make_payload: {message}", file=sys.stderr)
    sys.exit(1)


def list_files(folder):
    """Relative paths of every file under folder, sorted, with '/' between
    folders (gcab stores them with backslashes)."""
    if not os.path.isdir(folder):
        fail(f"payload folder not found: {folder}")
    found = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            full = os.path.join(root, name)
            found.append(os.path.relpath(full, folder).replace(os.sep, "/"))
    if not found:
        fail(f"payload folder is empty: {folder}")
    return found


def make_cabinet(folder, cabinet):
    files = list_files(folder)
    for name in files:
        if len(name) > 255:
            fail(f"name too long for a cabinet entry: {name}")
        if not all(32 <= ord(c) < 127 for c in name):
            fail(f"cabinet entry names must be plain ASCII: {name}")
    if os.path.exists(cabinet):
        os.remove(cabinet)
    # Run from inside the folder with relative names, so the entries carry
    # their sub-folders and nothing of the build machine's paths.
    subprocess.run(["gcab", "-c", "-z", os.path.abspath(cabinet), *files], cwd=folder, check=True)
    return files, sum(os.path.getsize(os.path.join(folder, f)) for f in files)


def pack_container(cvzb, source, container):
    if not os.path.isfile(source):
        fail(f"file to pack not found: {source}")
    subprocess.run([cvzb, "pack", source, container], check=True)


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def rc_path(path):
    return os.path.abspath(path).replace("\\", "/").replace('"', '""')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--main", required=True)
    parser.add_argument("--archivist", required=True)
    parser.add_argument("--uninstaller", required=True)
    parser.add_argument("--comctl-update", required=True)
    parser.add_argument("--cvzb", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--generated", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(args.generated, exist_ok=True)

    main_cab = os.path.join(args.out, "MAIN.cab")
    archivist_cab = os.path.join(args.out, "ARCHIVIST.cab")
    uninstall = os.path.join(args.out, "UNINSTALL.cvzb")
    comupd = os.path.join(args.out, "40COMUPD.cvzb")
    main_files, main_bytes = make_cabinet(args.main, main_cab)
    archivist_files, archivist_bytes = make_cabinet(args.archivist, archivist_cab)
    pack_container(args.cvzb, args.uninstaller, uninstall)
    pack_container(args.cvzb, args.comctl_update, comupd)

    extracted = main_bytes + archivist_bytes
    installed = extracted + os.path.getsize(args.uninstaller)
    required = math.ceil(installed * SPACE_MARGIN_RATIO) + SPACE_MARGIN_BYTES
    if extracted > 2**31 - 1 - os.path.getsize(main_cab) - os.path.getsize(archivist_cab):
        fail("the product is too large: the progress total must stay below 2 GiB")

    # A name that starts with a digit must be quoted, and windres joins a
    # quoted name to a string just before it, so every entry is preceded
    # by its own LANGUAGE statement.
    entries = [("MAIN", "CAB", main_cab), ("ARCHIVIST", "CAB", archivist_cab),
               ("UNINSTALL", "CVZB", uninstall), ('"40COMUPD"', "CVZB", comupd)]
    rc = ["// The payload of setup.exe, written by resources/payload/make_payload.py.", ""]
    for name, kind, path in entries:
        rc += ["LANGUAGE 9, 1", f'{name} {kind} "{rc_path(path)}"']
    write_if_changed(os.path.join(args.generated, "payload.rc"), "\n".join(rc) + "\n")
    write_if_changed(os.path.join(args.generated, "payload_sizes.h"),
                     "// Size figures of the payload, written by resources/payload/make_payload.py.\n"
                     f"// Installed bytes: {installed}.\n"
                     f"#define PAYLOAD_REQUIRED_SPACE \"{required}\"\n"
                     f"// Uncompressed bytes of both cabinets' files: the extraction's share of the progress.\n"
                     f"#define PAYLOAD_PROGRESS_EXTRA \"{extracted}\"\n")

    def mb(n):
        return f"{n / 1048576:.2f} MB"
    print(f"payload: MAIN {mb(os.path.getsize(main_cab))} ({len(main_files)} files, {mb(main_bytes)} installed), "
          f"ARCHIVIST {mb(os.path.getsize(archivist_cab))} ({len(archivist_files)} files), "
          f"UNINSTALL {os.path.getsize(uninstall)} bytes, 40COMUPD {os.path.getsize(comupd)} bytes; "
          f"required space {required} bytes")


if __name__ == "__main__":
    main()
