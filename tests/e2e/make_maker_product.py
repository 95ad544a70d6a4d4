#!/usr/bin/env python3
"""Writes a second maker's product in two versions, as that maker would
describe it from scratch: Halvorsen Ledger by Halvorsen Data, with no
Maker key (its maker is the first word of its publisher), no sibling
product, no web site and no default folder. Version 3.10 drops three files
of 3.9 (two of them the last files of their folders) and adds two, and
drops a PATH folder, a registry value, the file type and the desktop link
(a task, chosen unless the user says otherwise) of 3.9.

usage: make_maker_product.py OUT_DIR PROGRAM [SCOPE]
writes OUT_DIR/3.9/ledger.ini and OUT_DIR/3.10/ledger.ini, each beside its
licence, information and main/ folder; PROGRAM (a Windows program) becomes
the product's Ledger.exe. SCOPE "user" describes the product installed
for the user alone (Scope = user); "x64", for every user with 64-bit
programs (Architecture = x64; PROGRAM is then an x64 program); left out,
for every user.

Beside them OUT_DIR/world/world.ini: a product whose names, links, files
and folders are written in Polish, Greek, Cyrillic and Japanese letters,
which has no help file and no important information, its own links (in
the Start menu, and on the desktop as a task), a PATH folder (a task
chosen unless the user says otherwise) and a language of its own beside
the kit's: Esperanto (eo.txt, the kit's English texts each marked "Eo: "),
which the user chooses before the first page.
"""
import os
import shutil
import sys

DESCRIPTION = """\
; Halvorsen Ledger, a second maker's product of the tests.
[Product]
AppName = Halvorsen Ledger
ProductName = Halvorsen Ledger
Version = {version}
Publisher = Halvorsen Data
Program = Ledger.exe
{scope}
[Files]
Main = main

[English]
Edition = Accounts Edition
HelpFile = Docs\\Guide.txt
Licence = licence.txt
Information = information.txt
"""

WORLD_DESCRIPTION = """\
; A product named in four scripts.
[Product]
AppName = Księgowość Λογιστική 会計
ProductName = Księgowość Книги
Version = 1.0
Publisher = Łódź Wydawnictwo
Program = Księgowość.exe
{scope}
[Files]
Main = main

[English]
Edition = Издание 東京
Licence = licence.txt

[Links]
Link = {{AppName}} | StartMenu | Księgowość.exe
Link = Odinstaluj {{AppName}} | StartMenu | {{Uninstaller}}
Link = {{AppName}} | Desktop | Księgowość.exe | --księga Война | Księgowość.exe,0 | Księgi | {{TargetDir}}Книги | task=desktop

[Tasks]
Task = desktop | unchecked | Create a desktop link | Créer un raccourci sur le bureau | Snelkoppeling op het bureaublad
Task = path | checked | Add {{AppName}} to the PATH

[Path]
Folder = {{TargetDir}} | task=path

[Languages]
File = eo.txt
Ask = yes
"""

WORLD_FILES = {
    "Dokumenty/Zażółć gęślą jaźń.txt": "Pomoc: zażółć gęślą jaźń.\r\n",
    "Книги/Война и мир.txt": "Война и мир\r\n",
    "東京/地図.txt": "東京の地図\r\n",
    "Ελληνικά.txt": "Καλημέρα\r\n",
}

COMMON = {
    "ReadMe.txt": b"Halvorsen Ledger\r\n",
    "Docs/Guide.txt": b"How to keep the books.\r\n" * 40,
    "Data/accounts.dat": bytes(range(256)) * 16,
}
# The product's own registry values; the second list only in 3.9, with
# its file type and its links (3.10 has the default three, and no desktop
# link).
REGISTRY = """\
[Registry]
Value = Auto | Software\\Halvorsen\\Ledger Settings | Theme | string | "dark | wide" | removekey
Value = Auto | Software\\Halvorsen\\Ledger Settings | Home | expand | {TargetDir}Data | removekey
Value = Auto | Software\\Halvorsen\\Ledger Settings | Columns | dword | 0x10 | removekey
Value = Auto | Software\\Halvorsen\\Ledger Settings | Books | multi | 2024%n2025 | removekey
Value = Auto | Software\\Halvorsen\\Ledger Settings | Limit | qword | 4294967296 | removekey
Value = Auto | Software\\Shared Tools\\Spell | Dictionary | string | {TargetDir}Data\\words.dic | remove
Value = Auto | Software\\Shared Tools\\Spell | LastProduct | string | {AppName} | keep
[Path]
Folder = {TargetDir}
"""
REGISTRY_ONLY_1 = """\
[Registry]
Value = Auto | Software\\Halvorsen\\Ledger Settings | Seed | binary | 01 02 ff | removekey
[Path]
Folder = {TargetDir}Reports
[FileTypes]
Type = .hlg | Halvorsen.Ledger.Book | Ledger book | Ledger.exe
[Tasks]
Task = desktop | checked | Put a link to {AppName} on the desktop
[Links]
Link = {AppName} | StartMenu | Ledger.exe
Link = {AppName} Help | StartMenu | Docs\\Guide.txt
Link = Uninstall {AppName} | StartMenu | {Uninstaller}
Link = {AppName} | Desktop | Ledger.exe | --books | | | | task=desktop
"""

ONLY_1 = {
    "Data/rates.dat": b"0.25 0.5 0.75\r\n" * 50,
    "Data/Old/2019.dat": b"old year\r\n" * 30,
    "Reports/annual.txt": b"annual report\r\n" * 20,
}
ONLY_2 = {
    "Data/currencies.dat": b"NOK SEK DKK EUR\r\n" * 30,
    "Plugins/export.dll": b"MZ" + bytes(500),
}


ENGLISH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "languages", "en.txt")


def esperanto():
    """The kit's English language file as the maker's Esperanto: each text
    marked, every macro and tab kept."""
    lines = []
    with open(ENGLISH, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.partition(" = ")
            if key == "Name":
                line = 'Name = "Esperanto"\n'
            elif key == "Id":
                line = "Id = 0x048F\n"
            elif value.startswith('"') and not key.startswith(";"):
                line = key + ' = "Eo: ' + value[1:]
            lines.append(line)
    return "".join(lines).encode()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    out, program = sys.argv[1], sys.argv[2]
    scope = {"user": "Scope = user\n", "x64": "Architecture = x64\n"}.get((sys.argv[3:] or [""])[0], "")
    for version, files in (("3.9", {**COMMON, **ONLY_1}), ("3.10", {**COMMON, **ONLY_2})):
        folder = os.path.join(out, version)
        shutil.rmtree(folder, ignore_errors=True)
        for name, data in files.items():
            write(os.path.join(folder, "main", name), data + version.encode())
        shutil.copyfile(program, os.path.join(folder, "main", "Ledger.exe"))
        write(os.path.join(folder, "licence.txt"), b"HALVORSEN LEDGER LICENCE\n\nFor tests only.\n")
        write(os.path.join(folder, "information.txt"), b"Halvorsen Ledger keeps the books.\n")
        registry = REGISTRY + (REGISTRY_ONLY_1 if version == "3.9" else "")
        write(os.path.join(folder, "ledger.ini"),
              (DESCRIPTION.format(version=version, scope=scope) + registry).encode())
    folder = os.path.join(out, "world")
    shutil.rmtree(folder, ignore_errors=True)
    for name, text in WORLD_FILES.items():
        write(os.path.join(folder, "main", name), text.encode())
    shutil.copyfile(program, os.path.join(folder, "main", "Księgowość.exe"))
    write(os.path.join(folder, "licence.txt"), "LICENCJA KSIĘGOWOŚCI\n\nŁódź, Київ, 東京.\n".encode())
    write(os.path.join(folder, "world.ini"), WORLD_DESCRIPTION.format(scope=scope).encode())
    write(os.path.join(folder, "eo.txt"), esperanto())


if __name__ == "__main__":
    main()
