#!/usr/bin/env python3
"""atspi_probe.py TITLE: describes the showing windows titled TITLE of the
GTK programs on the session's accessibility bus, and what they contain, in
the same lines as window_probe.exe does for Windows dialogs:

  window <role>
  control <role> text=<name or text> [items=<a>|<b>]

items lists a combo box's entries (the choosers' file type filters). Icons
show up as controls of role "icon" or "image". Exit status 0 when a window
was found, 1 when none.
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# Roles whose subtrees hold nothing a test looks at, and can be large.
SKIP = {"table", "tree table", "list", "tree", "scroll pane"}


def text_of(node):
    name = node.get_name() or ""
    if name:
        return name
    try:
        text = node.get_text_iface()
        if text:
            return text.get_text(0, text.get_character_count())
    except Exception:  # an object gone while we looked
        pass
    return ""


def one_line(s):
    return s.replace("\r", "").replace("\n", "\\n")


def showing(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.SHOWING)
    except Exception:
        return False


def children(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child


def items_of(node):
    return [item.get_name() or "" for menu in children(node) for item in children(menu)]


def walk(node, depth=0):
    if depth > 40:
        return
    for child in children(node):
        if not showing(child):
            continue
        role = child.get_role_name()
        line = f"control {role} text={one_line(text_of(child))}"
        if role == "combo box":
            print(line + " items=" + "|".join(items_of(child)))
            continue
        print(line)
        if role not in SKIP:
            walk(child, depth + 1)


def main():
    if len(sys.argv) != 2:
        print("usage: atspi_probe.py TITLE", file=sys.stderr)
        return 2
    title = sys.argv[1]
    found = 0
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        for window in children(app):
            if window.get_name() != title or not showing(window):
                continue
            found += 1
            print(f"window {window.get_role_name()}")
            walk(window)
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
