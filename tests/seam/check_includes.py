#!/usr/bin/env python3
"""Refuses includes that get around the include roots.

A quoted include is looked up first in the including file's own folder, so
"../gc/gc_manager.h" reaches any folder whatever the target links, and in
src/ or tools/, where one folder can hold more than one target, even a bare
"loader.h" reaches a header of another target. The include roots can only
keep a layer out of reach when every include goes through them: no include
path may climb out of a folder ("..") and, under src/ and tools/, no quoted
include may be found beside the including file.

Usage: check_includes.py <source root> [<folder>...]; the folders default to
every folder of code. Prints each refused include as path:line: and why;
exits 1 when there is one, 2 when a folder is missing.
"""
import os
import re
import sys

CODE_FOLDERS = ["src", "libs", "tools", "devhost", "tests", "bench", "fuzz"]
# Folders whose subfolders are layers reached only through include roots.
ROOTED_FOLDERS = ("src", "tools")
SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inl")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]*)[>"]')


def refusals(root, relative_path):
    path = os.path.join(root, relative_path)
    rooted = relative_path.split(os.sep, 1)[0] in ROOTED_FOLDERS
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, name = match.groups()
            parts = re.split(r"[\\/]", name)
            if ".." in parts:
                yield number, f'"{name}" climbs out of its folder: include it from its include root'
            elif quote == '"' and rooted and os.path.exists(
                    os.path.join(os.path.dirname(path), name)):
                yield number, (f'"{name}" is found beside the including file, past the include '
                               'roots: write it as "<folder>/<name>"')


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = argv[1]
    folders = argv[2:] or CODE_FOLDERS
    found = 0
    for folder in folders:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            print(f"{top}: no such folder", file=sys.stderr)
            return 2
        for directory, subfolders, files in os.walk(top):
            subfolders.sort()
            for name in sorted(files):
                if not name.endswith(SUFFIXES):
                    continue
                relative = os.path.relpath(os.path.join(directory, name), root)
                for number, why in refusals(root, relative):
                    print(f"{relative}:{number}: {why}")
                    found += 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
