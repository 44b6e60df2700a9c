#!/usr/bin/env python3
"""atspi_probe.py TITLE: describes the showing windows titled TITLE of the
GTK programs on the session's accessibility bus (through dogtail), and what
they contain, in the same lines as window_probe.exe does for Windows dialogs:

  window <role>
  control <role> text=<name or text> [items=<a>|<b>]

items lists a combo box's entries (the choosers' file type filters). Icons
show up as controls of role "icon" or "image". Exit status 0 when a window
was found, 1 when none.
"""
import sys

from dogtail.config import config

config.checkForA11y = False  # the bus is this session's own, switched on by the harness
config.logDebugToStdOut = config.logDebugToFile = False
from dogtail import tree  # noqa: E402

SKIP = {"table", "tree table", "list", "tree", "scroll pane"}  # large, and nothing to read there


def walk(node, depth=0):
    for child in node.children if depth < 40 else []:
        if not child.showing:
            continue
        text = (child.name or child.text or "").replace("\r", "").replace("\n", "\\n")
        items = "|".join(item.name or "" for menu in child.children for item in menu.children) \
            if child.roleName == "combo box" else None
        print(f"control {child.roleName} text={text}" + ("" if items is None else f" items={items}"))
        if items is None and child.roleName not in SKIP:
            walk(child, depth + 1)


windows = [w for app in tree.root.applications() for w in app.children if w.name == sys.argv[1] and w.showing]
for window in windows:
    print(f"window {window.roleName}")
    walk(window)
sys.exit(0 if windows else 1)
