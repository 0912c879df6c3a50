#!/usr/bin/env python3
"""Checks that every include points down the layers, and that the core has no Qt in it.

Usage: scripts/check-includes.py [source directory, default: the one above this script]

Each part of the program is a folder, and the folders stand in layers (LAYERS below, lowest first). A
file may include files of its own part and of parts in lower layers; an include of a part in the same
layer or a higher one fails. Tests stand in the layer of the part they test (tests/receipt with
receipt/), so a test of a low part cannot lean on a higher one either. The core parts (CORE below) are
built without Qt and without the Windows API: no Qt header, no part of an edge (Qt or Windows) and no
Windows header may appear in them. The one exception is a core part's file for Windows, named
*_win32.cpp or windows_*.cpp, beside its file for Linux; its header is the core's and stays free of
Windows headers too.

Prints each offending include as "file:line: message" and exits 1 when there is any, 0 otherwise.
"""

import pathlib
import re
import sys

# Lowest first. Parts in one layer know nothing of each other.
LAYERS = [
    ["runtime/text"],
    ["runtime/settings", "runtime/surface", "runtime/controls"],
    ["runtime/platform", "qr"],
    ["runtime/qt"],
    ["runtime/widgets", "runtime/web", "runtime/print", "receipt", "online"],
    ["online/qt", "runtime/win32"],
    ["online/win32"],
    ["app"],
    ["app/qt", "app/win32"],
]

# Built without Qt or the Windows API. app/ holds the program's behaviour (the counter, the lists); its
# binders are app/qt and app/win32. runtime/win32 (the Windows window, drawing and printing edges) stands
# above receipt/ so that its tests may draw and print the receipt.
CORE = {"runtime/text", "runtime/settings", "runtime/surface", "runtime/controls", "runtime/platform", "qr", "receipt",
        "online", "app"}

# Folders whose files are checked; tests/fuzz, bench/ and scripts/ stand above everything and may use all.
SOURCE_SUFFIXES = {".h", ".cpp"}
TOP = {"tests/fuzz", "bench", "scripts"}

# Test support that depends on no part of the program, so any test may use it: the local HTTP server
# (plain sockets) that stands in for the vendor's server.
SHARED_TEST_SUPPORT = {"tests/online/local_http_server.h"}

RANK = {part: rank for rank, layer in enumerate(LAYERS) for part in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Za-z0-9_]*|Qt[A-Za-z]*/.*|q[a-z0-9_]*\.h|ui_.*\.h)$")
# The Windows SDK's headers (<windows.h> and the headers of its libraries).
WINDOWS_HEADER = re.compile(
    r"^(windows|winsock2|ws2tcpip|winhttp|wininet|winspool|wincodec|commctrl|commdlg|objbase|ole2|oleauto|"
    r"oleacc|olectl|ocidl|exdisp|exdispid|mshtml|mshtmhst|urlmon|shlobj|shellapi|shlwapi|winuser|wingdi|"
    r"winbase|winnt|windef|wtypes|unknwn|propidl|docobj|servprov|dispex|rpc|tchar)\.h$", re.IGNORECASE)
# The files of a core part that are its Windows layer, beside a Linux one.
WINDOWS_FILE = re.compile(r"(_win32\.cpp|^windows_[a-z0-9_]*\.cpp)$")


def part_of(path):
    """The part a source path belongs to ("runtime/print" for runtime/print/printer.h), None outside them."""
    if path.startswith("tests/"):
        if any(path.startswith(top + "/") for top in TOP):
            return None
        path = path[len("tests/"):]
    best = None
    for part in RANK:
        if path.startswith(part + "/") and (best is None or len(part) > len(best)):
            best = part
    return best


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = []
    folders = sorted({part.split("/")[0] for part in RANK}) + ["tests"]
    for folder in folders:
        for file in sorted((root / folder).rglob("*")):
            if file.suffix not in SOURCE_SUFFIXES or not file.is_file():
                continue
            name = file.relative_to(root).as_posix()
            source = part_of(name)
            if source is None:
                continue
            is_test = name.startswith("tests/")
            for number, line in enumerate(file.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                bracket, included = match.groups()
                where = f"{name}:{number}"
                if bracket == "<":
                    if source in CORE and not is_test and QT_HEADER.match(included):
                        problems.append(f"{where}: Qt header <{included}> in the core part {source}/")
                    if (source in CORE and not is_test and WINDOWS_HEADER.match(included)
                            and not WINDOWS_FILE.search(file.name)):
                        problems.append(f"{where}: Windows header <{included}> in the core part {source}/ "
                                        f"(only its files for Windows, *_win32.cpp or windows_*.cpp, may use the Windows API)")
                    continue
                target = part_of(included)
                if target is None or target == source or (is_test and included in SHARED_TEST_SUPPORT):
                    continue
                if RANK[target] >= RANK[source]:
                    relation = "the same layer as" if RANK[target] == RANK[source] else "a layer above"
                    problems.append(f"{where}: includes {included}, of {target}/ in {relation} {source}/")
                elif source in CORE and not is_test and target not in CORE:
                    problems.append(f"{where}: includes {included}, of the edge {target}/, in the core part {source}/")
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layers; the order is in {pathlib.Path(__file__).name}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
