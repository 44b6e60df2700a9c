#!/usr/bin/env python3
"""atspi_probe.py TITLE: what the GTK programs' showing windows titled TITLE
hold, read over the session's accessibility bus through dogtail, in
window_probe.exe's lines:

  window
  control <role> text=<name or text> [items=<a>|<b>]

items: a combo box's entries (the choosers' file type filters). Icons are
controls of role "icon" or "image"."""
import sys

from dogtail.config import config

config.checkForA11y = False  # the bus is this session's own
config.logDebugToStdOut = config.logDebugToFile = False
from dogtail import tree  # noqa: E402

BULKY = {"table", "tree table", "list", "tree", "scroll pane"}  # the folder listing: nothing to read there


def walk(node):
    for child in (c for c in node.children if c.showing):
        combo = child.roleName == "combo box"
        items = " items=" + "|".join(i.name or "" for m in child.children for i in m.children) if combo else ""
        print(f"control {child.roleName} text={(child.name or child.text or '').replace(chr(10), ' ')}{items}")
        if not combo and child.roleName not in BULKY:
            walk(child)


for window in (w for app in tree.root.applications() for w in app.children if w.name == sys.argv[1] and w.showing):
    print("window")
    walk(window)
