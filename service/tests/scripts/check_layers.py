#!/usr/bin/env python3
"""Checks that every include of service/src points down.

docs/architecture.md lists the service's folders in a table of four
columns: layer, folder, job, and the folders it includes. This fails when a
folder includes one the table does not list for it, when the table lists
one that it does not include (the table would no longer tell the truth),
or when a listed folder is not of a lower layer.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[3]
SOURCES = ROOT / "service" / "src"
DOCUMENT = ROOT / "docs" / "architecture.md"
ROW = re.compile(r"^\| (\d+) \| `([a-z_]+)` \| .* \|\s*([a-z_, ]*?)\s*\|$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def documented():
    layers, includes = {}, {}
    for line in DOCUMENT.read_text().splitlines():
        match = ROW.match(line)
        if match:
            layer, folder, listed = match.groups()
            layers[folder] = int(layer)
            includes[folder] = {name.strip() for name in listed.split(",") if name.strip()}
    return layers, includes


def actual(folder):
    found = set()
    for path in (SOURCES / folder).rglob("*"):
        if path.suffix in (".h", ".cpp"):
            found.update(INCLUDE.findall(path.read_text()))
    found.discard(folder)
    return found


def main():
    layers, includes = documented()
    folders = sorted(p.name for p in SOURCES.iterdir() if p.is_dir())
    problems = []
    for folder in folders:
        if folder not in layers:
            problems.append(f"{folder}: not in the table of {DOCUMENT.name}")
            continue
        for other in sorted(includes[folder]):
            if layers.get(other, 1 << 30) >= layers[folder]:
                problems.append(f"{folder} (layer {layers[folder]}) lists {other}, "
                                f"which is not of a lower layer")
        have = actual(folder)
        for other in sorted(have - includes[folder]):
            problems.append(f"{folder} includes {other}, which the table does not list for it")
        for other in sorted(includes[folder] - have):
            problems.append(f"{folder}: the table lists {other}, which it does not include")
    for folder in sorted(set(layers) - set(folders)):
        problems.append(f"{folder}: in the table but not a folder of service/src")
    for problem in problems:
        print("layers: " + problem)
    if not problems:
        print(f"layers: the {len(folders)} folders of service/src include only from below")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
