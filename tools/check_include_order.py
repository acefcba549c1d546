#!/usr/bin/env python3
"""Fails when a program source includes against the folders' dependency order.

    common <- net <- state <- {identity, center, storage, download, lan, diagnostics} <- workflow <- ui <- app

A folder may include its own headers and those of the folders below it.
Folders on the same level may include one another, but never in a circle.
A quoted include of a folder that has no place here fails too, so that a new
folder is given its level before it is used.

Usage: check_include_order.py [REPOSITORY_ROOT]   (default: this script's repository)
"""
import os
import re
import sys

LEVELS = [
    ["common"],
    ["net"],
    ["state"],
    ["identity", "center", "storage", "download", "lan", "diagnostics"],
    ["workflow"],
    ["ui"],
    ["app"],
]
LEVEL_OF = {folder: level for level, folders in enumerate(LEVELS) for folder in folders}
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def read_includes(root):
    """{relative path: [(line number, included path)]} for every program source."""
    found = {}
    for folder in LEVEL_OF:
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = folder + "/" + name
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
                found[path] = [(number, match.group(1)) for number, line in enumerate(source, 1)
                               if (match := INCLUDE.match(line))]
    return found


def find_violations(includes):
    """Texts naming every include against the order, and every circle within a level."""
    violations = []
    sideways = {}
    for path, lines in sorted(includes.items()):
        folder = path.split("/", 1)[0]
        for number, included in lines:
            target = included.split("/", 1)[0] if "/" in included else folder
            if target == folder:
                continue
            if target not in LEVEL_OF:
                violations.append(f"{path}:{number}: includes \"{included}\": {target}/ has no place in the order")
            elif LEVEL_OF[target] > LEVEL_OF[folder]:
                violations.append(f"{path}:{number}: includes \"{included}\": {folder}/ lies below {target}/")
            elif LEVEL_OF[target] == LEVEL_OF[folder]:
                sideways.setdefault(folder, {}).setdefault(target, f"{path}:{number}")
    violations.extend(find_circles(sideways))
    return violations


def find_circles(edges):
    circles = []
    state = {}

    def visit(folder, trail):
        # trail: the open folders that led here, this one last.
        state[folder] = "open"
        for target, where in sorted(edges.get(folder, {}).items()):
            if state.get(target) == "open":
                loop = trail[trail.index(target):] + [target]
                circles.append(f"{where}: closes the circle {' -> '.join(loop)}")
            elif target not in state:
                visit(target, trail + [target])
        state[folder] = "done"

    for folder in sorted(edges):
        if folder not in state:
            visit(folder, [folder])
    return circles


def check_catches_planted_faults():
    """The check must reject an upward include and a sideways circle, or it proves nothing."""
    upward = {"common/Text.h": [(3, "ui/Window.h")]}
    circle = {"lan/A.cpp": [(1, "storage/B.h")], "storage/B.cpp": [(2, "lan/A.h")]}
    unknown = {"center/C.cpp": [(4, "elsewhere/D.h")]}
    allowed = {"ui/E.cpp": [(1, "common/F.h"), (2, "ui/G.h"), (3, "H.h")], "storage/I.cpp": [(1, "center/J.h")]}
    return (len(find_violations(upward)) == 1 and len(find_violations(circle)) == 1
            and len(find_violations(unknown)) == 1 and not find_violations(allowed))


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if not check_catches_planted_faults():
        print("the include-order check no longer catches planted faults")
        return 2
    includes = read_includes(root)
    if not includes:
        print("no program sources under", root)
        return 2
    violations = find_violations(includes)
    for violation in violations:
        print(violation)
    if violations:
        print(f"{len(violations)} include(s) against the order "
              "common <- net <- state <- {identity, center, storage, download, lan, diagnostics} <- workflow <- ui <- app")
        return 1
    print(f"include order kept in {len(includes)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
