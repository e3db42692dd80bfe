#!/usr/bin/env python3
"""Fails when a source file includes one of a higher layer, or when includes run in a loop.

Layers from the bottom: protocol and files, console, moderation, users, server, net, app,
gui (and win32, the Windows window, and web, the web console, at the same height), main. A folder may include its own files and those of any folder below it.
"""
import pathlib
import re
import sys

LAYERS = {
    "protocol": 0,
    "files": 0,
    "console": 1,
    "moderation": 2,
    "users": 3,
    "server": 4,
    "net": 5,
    "app": 6,
    "gui": 7,
    "win32": 7,
    "web": 7,
    "main": 8,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def main() -> int:
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    problems = []
    graph = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(src).as_posix()
        folder = relative.split("/")[0]
        graph[relative] = []
        for target_folder, rest in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = f"{target_folder}/{rest}"
            graph[relative].append(target)
            if target_folder not in LAYERS:
                continue
            if folder != target_folder and LAYERS[target_folder] >= LAYERS[folder]:
                problems.append(f"{relative} includes {target} (a layer at or above {folder})")

    # Include loops between files.
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                loop = trail[trail.index(nxt):] + [nxt] if nxt in trail else [node, nxt]
                problems.append("include loop: " + " -> ".join(loop))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = "done"

    for node in graph:
        if node not in state:
            visit(node, [node])

    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
