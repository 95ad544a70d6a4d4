#!/usr/bin/env python3
"""Tests of the packaging tool mksetup on a made-up product: the cabinets
keep sub-folders as backslash names and hold every byte (decoded here with
Python's zlib, every block's checksum checked), the containers hold the
programs, the setup program carries them and the description's strings
(with the size figures and the fallback to English), a per-user product
asks for no administrator rights in its manifest nor in its uninstaller's,
the output does not depend on the run or on a signature of the stub, it
compresses at least as well as gcab, every broken description in a table
gets its one line and exit code 2 with nothing written (and so does a
damaged stub), the README documents exactly the keys mksetup knows, the Windows build of mksetup, run under Wine, writes the
same setup program byte for byte, the progress shows on a terminal only,
and a failed run leaves nothing behind.

Usage: payload_test.py MKSETUP STUB [WINDOWS_MKSETUP WINE_RUN WINE_PREFIX]
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "engine"))
from check_setup_resources import resources  # noqa: E402

MKSETUP, STUB = sys.argv[1], sys.argv[2]
WINDOWS = sys.argv[3:6] if len(sys.argv) >= 6 else None
failures = []

DESCRIPTION = """\
; A made-up product, English only.
[Product]
AppName = Tool
ProductName = Maker Tool
Version = 3.1
Publisher = Maker
Program = Tool.exe

[Files]
Main = main
Archivist = arch
Uninstaller = UnInstall.exe
ComctlUpdate = 40comupd.exe

[Uninstall]
RemoveAlso = {TargetDir}Tool.ini

[English]
Edition = Basic Edition
HelpFile = Data\\Help.hlp
Licence = licence.txt
Information = info.rtf
"""

PRODUCT = {
    "Tool.exe": b"MZ" + bytes(5000),
    "Data/Help.hlp": b"help" * 100,
    "Data/Deep/Nested/table.bin": bytes(range(256)) * 400,
    "Data/empty.txt": b"",
    "Data/text.txt": b"the setup installs the product into its folder\r\n" * 3000,
    "Docs/\u00dcbersicht \u0391\u0392\u0393 \u6771\u4eac.txt": b"a name in three scripts",
}
SHARED = {"Shared.dat": b"shared" * 50}


def check(condition, what):
    if not condition:
        failures.append(what)


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def checksum(data, seed=0):
    """The cabinet format's data checksum."""
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        seed ^= word
    tail = data[whole:]
    if tail:
        seed ^= int.from_bytes(tail, "big")
    return seed


def decode_cabinet(cab):
    """{name: bytes} of a single-folder MSZIP cabinet."""
    assert cab[:4] == b"MSCF" and struct.unpack_from("<I", cab, 8)[0] == len(cab)
    first_file, = struct.unpack_from("<I", cab, 16)
    count, = struct.unpack_from("<H", cab, 28)
    block_at, blocks, method = struct.unpack_from("<IHH", cab, 36)
    assert method == 1, "MSZIP folder"
    stream, history = b"", b""
    at = block_at
    for _ in range(blocks):
        stored_sum, stored, size = struct.unpack_from("<IHH", cab, at)
        data = cab[at + 8:at + 8 + stored]
        assert stored_sum == checksum(cab[at + 4:at + 8], checksum(data)), "block checksum"
        assert data[:2] == b"CK" and stored <= 32780
        inflater = zlib.decompressobj(-15, zdict=history) if history else zlib.decompressobj(-15)
        block = inflater.decompress(data[2:]) + inflater.flush()
        assert len(block) == size, "block size"
        stream += block
        history = block
        at += 8 + stored
    files = {}
    at = first_file
    for _ in range(count):
        size, offset = struct.unpack_from("<II", cab, at)
        end = cab.index(b"\0", at + 16)
        name = cab[at + 16:end]
        attributes, = struct.unpack_from("<H", cab, at + 14)
        # A name beyond ASCII is UTF-8, and says so.
        assert name.isascii() or attributes & 0x80, "UTF-8 name without its attribute"
        files[name.decode("utf-8")] = stream[offset:offset + size]
        at = end + 1
    return files


def renamed(manifest, name):
    """The manifest with its assemblyIdentity's name replaced."""
    return re.sub(rb'(<assemblyIdentity[^>]* name=")[^"]*"', lambda m: m.group(1) + name + b'"', manifest, count=1)


def string(found, number, language=None):
    # Without a language, numbered as the description's table keeps them:
    # the English number plus 100 (French) or 200 (Dutch).
    if language is None:
        language = {81: 0x40C, 82: 0x413}.get(number // 100, 0x409)
        number = number % 100 + 8000 if language != 0x409 else number
    block = found.get((6, number // 16 + 1, language), b"")
    at = 0
    for i in range(16):
        length, = struct.unpack_from("<H", block, at)
        if i == number % 16:
            return block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        at += 2 + 2 * length
    return ""


def mksetup(work, *args, description="product.ini"):
    return subprocess.run([MKSETUP, os.path.join(work, description), "--stub", STUB, *args],
                          capture_output=True, text=True)


def lay_out(work, description=DESCRIPTION):
    for name, data in PRODUCT.items():
        write(os.path.join(work, "main", name), data)
    for name, data in SHARED.items():
        write(os.path.join(work, "arch", name), data)
    write(os.path.join(work, "UnInstall.exe"), b"MZ uninstaller" * 30)
    write(os.path.join(work, "40comupd.exe"), b"MZ update" * 30)
    write(os.path.join(work, "licence.txt"), "LICENCE {braces} \\ and caf\u00e9\nsecond line\n")
    write(os.path.join(work, "info.rtf"), "{\\rtf1 Information}")
    write(os.path.join(work, "product.ini"), description)


def test_made_up_product(work):
    lay_out(work)
    out = os.path.join(work, "out")
    r = mksetup(work, "-o", os.path.join(out, "setup.exe"), "--payload-dir", os.path.join(out, "payload"))
    check(r.returncode == 0, f"packing a product: exit {r.returncode} {r.stderr}")
    if r.returncode != 0:
        return
    setup = read(os.path.join(out, "setup.exe"))
    found = resources(setup)
    main = decode_cabinet(read(os.path.join(out, "payload", "MAIN.cab")))
    check(main == {name.replace("/", "\\"): data for name, data in PRODUCT.items()}, f"MAIN holds {sorted(main)}")
    check(decode_cabinet(read(os.path.join(out, "payload", "ARCHIVIST.cab"))) == SHARED, "ARCHIVIST content")
    for name, kind, source in (("MAIN", "CAB", "MAIN.cab"), ("ARCHIVIST", "CAB", "ARCHIVIST.cab"),
                               ("UNINSTALL", "CVZB", "UNINSTALL.cvzb"), ("40COMUPD", "CVZB", "40COMUPD.cvzb")):
        check(found.get((kind, name)) == read(os.path.join(out, "payload", source)), f"resource {name}")
    for name, program in (("UNINSTALL", "UnInstall.exe"), ("40COMUPD", "40comupd.exe")):
        data = found.get(("CVZB", name), b"")
        check(data[:4] == b"CVZB" and data[8:10] == b"\x78\x9c", f"{name}: container header")
        check(zlib.decompress(data[8:]) == read(os.path.join(work, program)), f"{name}: container content")

    extracted = sum(map(len, PRODUCT.values())) + sum(map(len, SHARED.values()))
    installed = extracted + len(read(os.path.join(work, "UnInstall.exe")))
    expected = {5001: str(extracted), 5000: str(-(-installed * 105 // 100) + 65536), 5003: "Tool",
                5004: "Maker Tool", 5005: "Tool.exe", 5006: "3.1", 5007: "Maker", 7004: "Maker",
                5002: "{ProgramFilesDir}\\Maker\\Tool\\", 1: "Tool Setup", 900: "{TargetDir}Tool.ini", 901: "",
                8010: "Data\\Help.hlp", 8102: "Basic Edition", 8202: "Basic Edition",
                8107: "\\{AppCorvane}\\Aide de {AppName}.lnk", 8209: "Kies de map waarin Tool wordt ge\u00efnstalleerd:",
                # The maker is the publisher's first word, the sibling its
                # "Archivist", and there is no web address to show.
                5009: "Maker", 5010: "Maker Archivist", 5011: "Maker Archivist", 8017: "", 8117: ""}
    for number, text in expected.items():
        check(string(found, number) == text, f"string {number}: {string(found, number)!r} != {text!r}")
    licence = found.get(("RTF", "AGREEMENT"), b"")
    check(licence.startswith(b"{\\rtf1") and b"LICENCE \\{braces\\} \\\\ and caf\\'e9\\par" in licence,
          f"plain-text licence as RTF: {licence[:200]!r}")
    check(found.get(("RTF", "AGREEMENT", 0x40C)) == licence and
          found.get(("RTF", "INFORMATION", 0x413)) == b"{\\rtf1 Information}",
          "French and Dutch texts fall back to English")
    welcome = found.get((5, 108), b"").decode("utf-16-le", "replace")
    check("Thank you for choosing Maker!" in welcome and "Maker Tool (Basic Edition)" in welcome,
          "the welcome page names the product")

    # A product for every user asks for administrator rights as the stub
    # does; its manifest names the maker and the product instead of the
    # demo's, every other byte the stub's.
    check(string(found, 5012) == "machine", f"string 5012: {string(found, 5012)!r}")
    check(found.get((24, 1)) == renamed(resources(read(STUB)).get((24, 1)), b"Maker.MakerTool.Setup"),
          "the manifest is the stub's, with the maker's name")

    # The same inputs give the same bytes; a signed stub gives them too.
    r = mksetup(work, "-o", os.path.join(out, "again.exe"))
    check(r.returncode == 0 and read(os.path.join(out, "again.exe")) == setup, "a second run differs")
    if shutil.which("osslsigncode") and shutil.which("openssl"):
        key, cert, signed = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "signed-stub.exe"))
        # The kit's language files lie beside the stub mksetup is given.
        shutil.copytree(os.path.join(os.path.dirname(STUB), "languages"), os.path.join(work, "languages"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Throwaway"], capture_output=True, check=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", STUB, "-out", signed],
                       capture_output=True, check=True)
        r = subprocess.run([MKSETUP, os.path.join(work, "product.ini"), "--stub", signed, "-o",
                            os.path.join(out, "from-signed.exe")], capture_output=True, text=True)
        check(r.returncode == 0 and read(os.path.join(out, "from-signed.exe")) == setup,
              f"a signed stub: {r.returncode} {r.stdout} {r.stderr}")

    # gcab, the oracle: no larger cabinets than it makes of the same files.
    if shutil.which("gcab"):
        names = sorted(PRODUCT)
        subprocess.run(["gcab", "-c", "-z", os.path.join(out, "gcab.cab"), *names], cwd=os.path.join(work, "main"),
                       check=True)
        ours, theirs = len(read(os.path.join(out, "payload", "MAIN.cab"))), len(read(os.path.join(out, "gcab.cab")))
        check(ours <= theirs, f"MAIN.cab {ours} bytes, gcab {theirs}")

    if WINDOWS:
        windows_mksetup, wine_run, prefix = WINDOWS
        r = subprocess.run([wine_run, prefix, windows_mksetup, "Z:" + os.path.join(work, "product.ini"), "--stub",
                            "Z:" + STUB, "-o", "Z:" + os.path.join(out, "windows.exe")], capture_output=True, text=True)
        check(r.returncode == 0, f"Windows mksetup: exit {r.returncode} {r.stdout}")
        check(os.path.exists(os.path.join(out, "windows.exe")) and read(os.path.join(out, "windows.exe")) == setup,
              "the Windows build writes another setup program")


PER_USER = DESCRIPTION.replace("[Product]\n", "[Product]\nScope = user\n")


def test_per_user_product(work):
    """Scope = user: the setup program and the uninstaller it carries (the
    kit's, beside the stub) ask Windows for no administrator rights, each
    manifest otherwise as it was; the scope and the user's own default
    folder are in the string table. Without a help file: no help name and
    no help link; without important information: none of the stub's."""
    lay_out(work, PER_USER.replace("Uninstaller = UnInstall.exe\n", "").replace("HelpFile = Data\\Help.hlp\n", "")
            .replace("Information = info.rtf\n", ""))
    out = os.path.join(work, "setup.exe")
    r = mksetup(work, "-o", out)
    check(r.returncode == 0, f"packing a per-user product: exit {r.returncode} {r.stderr}")
    if r.returncode != 0:
        return
    found = resources(read(out))
    check(string(found, 5012) == "user", f"string 5012: {string(found, 5012)!r}")
    check(string(found, 5002) == "{LocalAppDataDir}\\Programs\\Tool\\", f"string 5002: {string(found, 5002)!r}")
    for number in (8007, 8010, 8107, 8110):
        check(string(found, number) == "", f"string {number} without a help file: {string(found, number)!r}")
    check(not [key for key in found if key[0] == "RTF" and str(key[1]).startswith("INFORMATION")],
          "information resources without Information")
    asked = b'level="requireAdministrator"'
    stub_manifest = resources(read(STUB)).get((24, 1), b"")
    check(asked in stub_manifest and
          found.get((24, 1)) == renamed(stub_manifest, b"Maker.MakerTool.Setup").replace(asked, b'level="asInvoker"'),
          f"the setup's manifest: {found.get((24, 1))!r}")
    kit = read(os.path.join(os.path.dirname(STUB), "UnInstall.exe"))
    packed = found.get(("CVZB", "UNINSTALL"), b"")
    uninstaller = resources(zlib.decompress(packed[8:]))
    original = resources(kit)
    check(renamed(original.get((24, 1), b""), b"Maker.MakerTool.Uninstall").replace(asked, b'level="asInvoker"') ==
          uninstaller.get((24, 1)),
          f"the uninstaller's manifest: {uninstaller.get((24, 1))!r}")
    # Its own resources are kept; the kit's languages are added to them.
    kept = {k: v for k, v in original.items() if k[:2] not in ((24, 1), (10, "LANGUAGES"))}
    check(all(uninstaller.get(k) == v for k, v in kept.items()), "the uninstaller's other resources changed")
    check(b"\nde 0x0407 Deutsch\n" in uninstaller.get((10, "LANGUAGES"), b"") and
          (6, 1000 // 16 + 1, 0x407) in uninstaller and (5, 100, 0x411) in uninstaller,
          "the uninstaller carries the kit's languages")


def test_languages(work):
    """A language of the maker's own and the product's texts in a kit's
    language: what English has is asked of every file, the product's [de]
    section speaks German where the kit's file gives the rest, and Carry
    leaves out the program's own languages not named."""
    lay_out(work, DESCRIPTION + "[de]\nEdition = Grundausgabe\nLicence = lizenz.txt\n"
                                "[Languages]\nCarry = en, de, eo\nFile = eo.txt\n")
    write(os.path.join(work, "lizenz.txt"), "LIZENZ\n")
    english = read(os.path.join(os.path.dirname(STUB), "languages", "en.txt")).decode("utf-8")
    esperanto = english.replace('Name = "English"', 'Name = "Esperanto"').replace("Id = 0x0409", "Id = 0x048F")
    lacking = "".join(line for line in esperanto.splitlines(True) if not line.startswith("8000 = "))
    write(os.path.join(work, "eo.txt"), lacking)
    r = mksetup(work, "--check")
    lines = r.stderr.splitlines()
    check(r.returncode == 2 and len(lines) == 1 and lines[0].startswith(os.path.join(work, "eo.txt") + ":") and
          "lacks 1 text(s) English has: 8000" in lines[0], f"a language file without a text: {r.stderr!r}")
    write(os.path.join(work, "product.ini"), read(os.path.join(work, "product.ini")) + b"FallBack = yes\n")
    out = os.path.join(work, "setup.exe")
    r = mksetup(work, "-o", out)
    check(r.returncode == 0, f"languages: exit {r.returncode} {r.stderr}")
    if r.returncode != 0:
        return
    found = resources(read(out))
    listed = found.get((10, "LANGUAGES"), b"").decode("utf-8").splitlines()
    check([line.split()[0] for line in listed] == ["en", "de", "eo"], f"languages carried: {listed}")
    check(not [k for k in found if len(k) == 3 and k[2] in (0x40C, 0x413)], "French or Dutch resources left")
    check(string(found, 8002, 0x407) == "Grundausgabe" and string(found, 8005, 0x407) == "Installation von Tool",
          f"German product texts: {string(found, 8002, 0x407)!r} {string(found, 8005, 0x407)!r}")
    check("Grundausgabe" in found.get((5, 108, 0x407), b"").decode("utf-16-le", "replace"),
          "the German welcome page names the German edition")
    check(b"LIZENZ" in found.get(("RTF", "AGREEMENT", 0x407), b"") and
          found.get(("RTF", "AGREEMENT", 0x48F)) is None, "the German licence, and English's for Esperanto")
    check(string(found, 8000, 0x48F) == string(found, 8000, 0x409) and string(found, 8001, 0x48F) == string(found, 8001, 0x409),
          "Esperanto's texts, the missing one English's")


def edit(key, value, section="English"):
    """The base description with one key's value replaced, or the key
    added to the section (made at the end when missing); None comments the
    key out."""
    lines = DESCRIPTION.splitlines()
    for i, line in enumerate(lines):
        if line.split("=")[0].strip() == key:
            lines[i] = f"{key} = {value}" if value is not None else ";"
            return "\n".join(lines) + "\n"
    if f"[{section}]" not in lines:
        lines.append(f"[{section}]")
    lines.insert(lines.index(f"[{section}]") + 1, f"{key} = {value}")
    return "\n".join(lines) + "\n"


def line_of(description, text):
    return description.splitlines().index(text) + 1


# name: (description, extra file to lay out, words of the message, line)
BROKEN = {
    "missing folder": (edit("Main", "absent"), None, "does not exist", "Main = absent"),
    "names that differ in the case of letters beyond ASCII": (
        DESCRIPTION, "main/Docs/\u00fcbersicht \u03b1\u03b2\u03b3 \u6771\u4eac.txt", "only in letter case", "Main = main"),
    "file name Windows refuses": (DESCRIPTION, "main/Notes: draft.txt", "is not a name Windows can create",
                                  "Main = main"),
    "name over a cabinet's 255 bytes": (DESCRIPTION, "main/" + "\u0142" * 100 + "/" + "\u0142" * 30, "bytes in UTF-8",
                                        "Main = main"),
    "name over 255 characters": (DESCRIPTION, "main/" + "d" * 200 + "/" + "f" * 60, "characters long",
                                 "Main = main"),
    "program not in the main folder": (edit("Program", "Missing.exe"), None, "is not at the top of the folder",
                                       "Program = Missing.exe"),
    "unknown key": (edit("Verison", "3", "Product"), None, "did you mean \"Version\"", "Verison = 3"),
    "unknown section": (DESCRIPTION.replace("[Files]", "[Fils]"), None, "did you mean [Files]", "[Fils]"),
    "missing key": (edit("Publisher", None), None, "Publisher is missing from [Product]", None),
    "text over the setup's limits": (edit("Edition", "E" * 300), None, "the setup keeps 255",
                                     "Edition = " + "E" * 300),
    "name too long for the page titles": (edit("AppName", "A" * 100), None, "the setup keeps 127",
                                          "AppName = " + "A" * 100),
    "macro the setup does not know": (edit("HelpLink", "\\{Foo}\\Help.lnk"), None, "{Foo}",
                                      "HelpLink = \\{Foo}\\Help.lnk"),
    "macro in a text shown as written": (edit("HeaderTitle", "{TargetDir}"), None, "shown as it is written",
                                         "HeaderTitle = {TargetDir}"),
    "relative default folder": (edit("DefaultFolder", "Maker\\Tool", "Product"), None, "must be a full path",
                                "DefaultFolder = Maker\\Tool"),
    "link without .lnk": (edit("UninstallLink", "Remove"), None, "ending in .lnk", "UninstallLink = Remove"),
    "help file not in the main folder": (edit("HelpFile", "Help.chm"), None, "is not in the folder",
                                         "HelpFile = Help.chm"),
    "missing licence": (edit("Licence", "absent.txt"), None, "does not exist", "Licence = absent.txt"),
    "not a key = value line": (DESCRIPTION.replace("[Uninstall]", "[Uninstall]\nRemoveAlso"), None,
                               "is not a \"key = value\" line", "RemoveAlso"),
    "too little space asked for": (edit("RequiredSpace", "10", "Product"), None, "asks for less than",
                                   "RequiredSpace = 10"),
    "version that is not dotted numbers": (edit("Version", "3.1 beta", "Product"), None, "is not a dotted version",
                                           "Version = 3.1 beta"),
    "maker that cannot be a key": (edit("Maker", "Maker\\Tools", "Product"), None, "cannot name a registry key",
                                   "Maker = Maker\\Tools"),
    "sibling without its files": (DESCRIPTION.replace("Archivist = arch\n", "").replace(
        "[Product]\n", "[Product]\nSibling = Other\n"), None, "has no Archivist folder", "Sibling = Other"),
    "footer of the wrong size": (edit("Footer", "footer.bmp", "Art"), "footer.bmp", "the page needs 136 x 30",
                                 "Footer = footer.bmp"),
    "scope that is neither": (edit("Scope", "everyone", "Product"), None, "is neither machine nor user",
                              "Scope = everyone"),
    "per-user product in the programs' folder": (
        PER_USER.replace("Program = Tool.exe\n", "Program = Tool.exe\nDefaultFolder = {ProgramFilesDir}\\Tool\n"),
        None, "cannot be installed into {ProgramFilesDir}", "DefaultFolder = {ProgramFilesDir}\\Tool"),
    "per-user product with an uninstaller that asks nothing": (
        PER_USER, None, "has no manifest that asks for an execution level", "Uninstaller = UnInstall.exe"),
    "run after that is neither yes nor no": (edit("RunAfter", "maybe", "Product"), None, "is neither yes nor no",
                                             "RunAfter = maybe"),
    "architecture that is neither x86 nor x64": (edit("Architecture", "arm64", "Product"), None,
                                                 "is neither x86 nor x64", "Architecture = arm64"),
    "64-bit product whose program is not": (edit("Architecture", "x64", "Product"), None,
                                            "Tool.exe is not a 64-bit (x64) program", "Program = Tool.exe"),
    "link to a file the product does not have": (edit("Link", "Tool | Desktop | Missing.exe", "Links"), None,
                                                  "is not a file of the main folder", "Link = Tool | Desktop | Missing.exe"),
    "link to an unknown place": (edit("Link", "Tool | Taskbar | {Uninstaller}", "Links"), None, "unknown place",
                                 "Link = Tool | Taskbar | {Uninstaller}"),
    "line made by a task the product does not have": (
        edit("Link", "Tool | Desktop | {Uninstaller} | task=desktop", "Links"), None, "is not one of [Tasks]",
        "Link = Tool | Desktop | {Uninstaller} | task=desktop"),
    "registry value of an unknown type": (edit("Value", "Auto | Software\\Maker | A | text | x", "Registry"), None,
                                          "unknown type \"text\"", "Value = Auto | Software\\Maker | A | text | x"),
    "registry key outside Software": (edit("Value", "Auto | System\\Maker | A | string | x", "Registry"), None,
                                      "is not below Software", "Value = Auto | System\\Maker | A | string | x"),
    "registry number out of range": (edit("Value", "Auto | Software\\Maker | N | dword | 4294967296", "Registry"),
                                     None, "is not a dword number",
                                     "Value = Auto | Software\\Maker | N | dword | 4294967296"),
    "section of a language not carried": (DESCRIPTION + "[eo]\nEdition = Basisa\n", None, "[eo] names no language",
                                          "Edition = Basisa"),
    "registry field with an unclosed quote": (edit("Value", "Auto | Software\\Maker | A | string | \"x", "Registry"),
                                              None, "root | key | name | type | data | at removal",
                                              "Value = Auto | Software\\Maker | A | string | \"x"),
    "per-user product writing the machine's hive": (
        PER_USER.replace("Uninstaller = UnInstall.exe\n", "") + "[Registry]\nValue = HKLM | Software\\T | A | dword | 1\n",
        None, "cannot write HKLM", "Value = HKLM | Software\\T | A | dword | 1"),
    "product over the largest the setup installs": (DESCRIPTION, ("main/huge.bin", 1), "(1950 MB) the setup installs",
                                                    "Main = main"),
}

# The largest product the shipped 32-bit setup installs (README: the
# shipped 32-bit program, in a guest).
LARGEST_PRODUCT = 1950 << 20


def sparse(path, beyond_largest):
    """A sparse file that makes the product beyond_largest bytes larger
    than the largest the setup installs: checked, never read."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(LARGEST_PRODUCT - sum(map(len, PRODUCT.values())) - sum(map(len, SHARED.values())) + beyond_largest)


def test_broken_descriptions(root):
    for name, (description, extra, words, line) in BROKEN.items():
        work = os.path.join(root, name.replace(" ", "_").replace("'", ""))
        lay_out(work, description)
        if isinstance(extra, tuple):
            sparse(os.path.join(work, extra[0]), extra[1])
        elif extra:
            write(os.path.join(work, extra), b"BM" + bytes(12) + struct.pack("<IiiHH", 40, 100, 20, 1, 8) + bytes(24)
                  if extra.endswith(".bmp") else b"x")
        out = os.path.join(work, "out")
        for args in (["--check"], ["-o", os.path.join(out, "setup.exe"), "--payload-dir", os.path.join(out, "p")]):
            r = mksetup(work, *args)
            lines = r.stderr.splitlines()
            where = os.path.join(work, "product.ini") + (f":{line_of(description, line)}:" if line else ":")
            check(r.returncode == 2, f"{name}: exit {r.returncode}")
            check(len(lines) == 1 and lines[0].startswith(where) and words in lines[0] and "; fix: " in lines[0],
                  f"{name}: {r.stderr!r}")
            check(not os.path.exists(out), f"{name}: something was written")
    # The largest product itself passes.
    work = os.path.join(root, "largest")
    lay_out(work)
    sparse(os.path.join(work, "main", "huge.bin"), 0)
    r = mksetup(work, "--check")
    check(r.returncode == 0, f"the largest product: {r.returncode} {r.stderr}")


def test_keys_are_documented():
    """Every key mksetup --keys lists has its row in the README's table of
    the description, under its section, and the README lists no other."""
    r = subprocess.run([MKSETUP, "--keys"], capture_output=True, text=True, timeout=60)
    listed = set(re.findall(r"^((?:\[\w+\] ?)+) (\w+)", r.stdout, re.M))
    readme = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md"),
                  encoding="utf-8").read()
    table = readme[readme.index("| section | key |"):]
    table = table[:table.index("\n\n")]
    documented, section = set(), None
    for row in table.splitlines()[2:]:
        cells = row.split("|")
        section = " ".join(re.findall(r"\[\w+\]", cells[1])) or section
        for key in re.findall(r"`(\w+)`", cells[2]):
            documented.add((section, key))
    check(r.returncode == 0 and len(listed) > 30, f"mksetup --keys: {r.returncode} {r.stdout[:200]!r}")
    check(listed == documented, f"the README's table differs from mksetup --keys: only listed "
          f"{sorted(listed - documented)}, only documented {sorted(documented - listed)}")


def on_terminal(command):
    """The exit code and what command writes to a terminal as its
    standard output."""
    master, slave = os.openpty()
    try:
        code = subprocess.run(command, stdout=slave, stderr=subprocess.DEVNULL).returncode
    finally:
        os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal's other end is closed and read out
            break
        if not chunk:
            break
        shown += chunk
    os.close(master)
    return code, shown.decode()


def test_progress_and_leftovers(work):
    """One line updated in place on a terminal, no carriage returns in a
    log, nothing with --quiet; a run that fails after packing leaves the
    earlier setup program as it was and no temporary file."""
    lay_out(work)
    out = os.path.join(work, "out")
    os.makedirs(out)
    setup = os.path.join(out, "setup.exe")
    command = [MKSETUP, os.path.join(work, "product.ini"), "--stub", STUB, "-o", setup]
    code, shown = on_terminal(command)
    check(code == 0 and shown.startswith("\rmksetup: packing   0% (") and "\rmksetup: packing 100% (" in shown
          and shown.splitlines()[-1].startswith(setup + ": MAIN"), f"on a terminal: {code} {shown!r}")
    r = subprocess.run(command, capture_output=True, text=True)
    check(r.returncode == 0 and "\r" not in r.stdout and len(r.stdout.splitlines()) <= 3, f"in a log: {r.stdout!r}")
    made = read(setup)
    r = subprocess.run(command + ["--quiet"], capture_output=True, text=True)
    check(r.returncode == 0 and r.stdout == "" and read(setup) == made, f"--quiet: {r.returncode} {r.stdout!r}")

    write(setup, b"the earlier setup program")
    write(os.path.join(out, "taken"), b"a file where the payload folder should go")
    r = subprocess.run(command + ["--payload-dir", os.path.join(out, "taken")], capture_output=True, text=True)
    check(r.returncode == 1 and "cannot create the folder" in r.stderr, f"failed run: {r.returncode} {r.stderr!r}")
    check(read(setup) == b"the earlier setup program", "a failed run replaced the setup program")
    check(sorted(os.listdir(out)) == ["setup.exe", "taken"], f"a failed run left {sorted(os.listdir(out))}")


def shared_resource_tree(stub, optional):
    """The stub's resource tree replaced, in place, by one whose 200 types
    all share one directory of 200 names, whose languages all share one
    resource: eight million resources from five kilobytes."""
    sections = optional + struct.unpack_from("<H", stub, optional - 4)[0]
    count = struct.unpack_from("<H", stub, optional - 18)[0]
    for i in range(count):
        header = sections + 40 * i
        if stub[header:header + 5] == b".rsrc":
            rva, _, base = struct.unpack_from("<III", stub, header + 12)
    n, names, languages = 200, 16 + 8 * 200, 2 * (16 + 8 * 200)
    entry = languages + 16 + 8 * n
    for at, target in ((0, 0x80000000 | names), (names, 0x80000000 | languages), (languages, entry)):
        struct.pack_into("<HHHH", stub, base + at + 8, 0, 0, 0, n)
        for k in range(n):
            struct.pack_into("<II", stub, base + at + 16 + 8 * k, k + 1, target)
    struct.pack_into("<IIII", stub, base + entry, rva + entry + 16, 64, 0, 0)


def test_damaged_stubs(root):
    """A payload-free program whose header or resources mksetup cannot take
    is refused with one line naming it, quickly and before anything is
    written."""
    lay_out(root)
    # name: (damage, words of the message)
    damages = {
        "file alignment of a gigabyte": (lambda b, o: struct.pack_into("<I", b, o + 36, 0x40000000),
                                         "has a damaged section alignment"),
        "file alignment not a power of two": (lambda b, o: struct.pack_into("<I", b, o + 36, 0x300),
                                              "has a damaged section alignment"),
        "sections aligned less than the file": (lambda b, o: struct.pack_into("<I", b, o + 32, 0x100),
                                                "has a damaged section alignment"),
        "resource tree sharing its directories": (shared_resource_tree, "has a damaged resource tree"),
    }
    for name, (damage, words) in damages.items():
        damaged = bytearray(read(STUB))
        damage(damaged, struct.unpack_from("<I", damaged, 0x3C)[0] + 24)
        path = os.path.join(root, "damaged.exe")
        write(path, bytes(damaged))
        out = os.path.join(root, "out")
        r = subprocess.run([MKSETUP, os.path.join(root, "product.ini"), "--stub", path, "-o",
                            os.path.join(out, "setup.exe")], capture_output=True, text=True, timeout=60)
        lines = r.stderr.splitlines()
        check(r.returncode == 2 and len(lines) == 1 and "damaged.exe " + words in lines[0],
              f"{name}: exit {r.returncode} {r.stderr!r}")
        check(not os.path.exists(out), f"{name}: something was written")


def main():
    work = tempfile.mkdtemp(prefix="payload_test_")
    try:
        test_made_up_product(os.path.join(work, "product"))
        test_per_user_product(os.path.join(work, "per-user"))
        test_languages(os.path.join(work, "languages"))
        test_broken_descriptions(os.path.join(work, "broken"))
        test_keys_are_documented()
        test_damaged_stubs(os.path.join(work, "stubs"))
        test_progress_and_leftovers(os.path.join(work, "progress"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
