#!/usr/bin/env python3
"""Checks Windows executables and DLLs with the MinGW objdump: each is of the
target's format (PE32 for i686, PE32+ for x86_64) and imports only the
launcher's three DLLs and Windows system DLLs, never a MinGW runtime DLL
(libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll), so that the game
directory's four own files are all that the launcher needs and all that its
self-update can replace.

usage: check_imports.py --objdump OBJDUMP --processor i686|x86_64 FILE...
"""
import argparse
import re
import subprocess
import sys

OWN = {"physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll"}
SYSTEM = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll", "user32.dll", "ws2_32.dll", "winmm.dll",
          "gdi32.dll", "ole32.dll", "shlwapi.dll"}
FORMAT = {"i686": "pei-i386", "x86_64": "pei-x86-64"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--processor", required=True, choices=sorted(FORMAT))
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    failures = []
    for path in options.files:
        dump = subprocess.run([options.objdump, "-p", path], capture_output=True, text=True, check=True).stdout
        file_format = re.search(r"file format (\S+)", dump)
        if not file_format or file_format.group(1) != FORMAT[options.processor]:
            failures.append("%s: format %s, expected %s" % (path, file_format and file_format.group(1),
                                                            FORMAT[options.processor]))
        imports = re.findall(r"DLL Name: (\S+)", dump)
        print("%s (%s): %s" % (path, file_format and file_format.group(1), ", ".join(imports)))
        for name in imports:
            if name.lower() not in SYSTEM and name not in OWN:
                failures.append("%s imports %s, which is neither one of the launcher's DLLs nor Windows' own"
                                % (path, name))
    for failure in failures:
        print(failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
