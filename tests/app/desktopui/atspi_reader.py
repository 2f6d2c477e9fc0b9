#!/usr/bin/python3
# Reads the accessible tree of one application as a screen reader does (AT-SPI over the
# accessibility bus) and prints every object as a JSON line: role, name, description.
# Usage: atspi_reader.py APPLICATION_NAME
import json
import sys

import pyatspi


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    try:
        print(json.dumps({"role": node.getRoleName(), "name": node.name or "",
                          "description": node.description or ""}), flush=True)
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception as error:  # an object that went away while it was read
        print(json.dumps({"error": str(error)}), flush=True)
        return
    for child in children:
        walk(child, depth + 1)


def main():
    wanted = sys.argv[1]
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    found = [a for a in apps if a is not None and a.name == wanted]
    if not found:
        print(json.dumps({"missing": wanted, "apps": [a.name for a in apps if a is not None]}), flush=True)
        return 1
    walk(found[0])
    print("done", flush=True)
    return 0


sys.exit(main())
