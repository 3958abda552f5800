#!/usr/bin/env python3
"""Prints the include graph of src/ between folders (one line per folder: what
it includes) and fails when files or folders include each other in a cycle.
Usage: python3 scripts/include_graph.py [--files]"""
import os
import re
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder(path):  # src/ui/gtk/ui.cpp -> ui/gtk, src/model/ui.h -> model
    parts = path.split("/")
    return "/".join(parts[:2]) if parts[0] in ("platform", "ui") and len(parts) > 2 else parts[0]


files = {}
for top, _, names in os.walk(root):
    for name in names:
        if name.endswith((".h", ".cpp")):
            rel = os.path.relpath(os.path.join(top, name), root).replace(os.sep, "/")
            with open(os.path.join(top, name), encoding="utf-8") as f:
                files[rel] = [t for t in include.findall(f.read()) if t in files or os.path.exists(os.path.join(root, t))]

unit = lambda p: os.path.splitext(p)[0]  # a .cpp and its .h are one unit
file_edges, folder_edges = {}, {}
for path, targets in files.items():
    for target in targets:
        if unit(target) != unit(path):
            file_edges.setdefault(unit(path), set()).add(unit(target))
        if folder(target) != folder(path):
            folder_edges.setdefault(folder(path), set()).add(folder(target))


def cycle(edges):
    state = {}

    def visit(node, trail):
        state[node] = 1
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                return trail[trail.index(nxt):] + [nxt] if nxt in trail else [node, nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = 2
        return None

    for start in sorted(edges):
        if start not in state:
            found = visit(start, [start])
            if found:
                return found
    return None


for name in sorted({folder(p) for p in files}):
    print(f"{name:16} -> {', '.join(sorted(folder_edges.get(name, ()))) or '(nothing)'}")
if "--files" in sys.argv:
    for name in sorted(file_edges):
        print(f"  {name} -> {', '.join(sorted(file_edges[name]))}")
status = 0
for kind, edges in (("files", file_edges), ("folders", folder_edges)):
    found = cycle(edges)
    if found:
        print(f"cycle between {kind}: {' -> '.join(found)}")
        status = 1
print("no include cycle" if status == 0 else "include cycles found")
sys.exit(status)
