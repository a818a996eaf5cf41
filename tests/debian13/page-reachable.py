#!/usr/bin/python3
# Run inside the Debian 13 root, on the application's accessibility bus, once its join page has
# loaded: a screen reader finds the application by its name and, inside its window, the join
# page's session key field. Exits 0 when it does, else 1 with the tree it saw.
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib


def walk(node, depth, lines, found):
    if depth > 30:
        return
    try:
        role, name = node.get_role_name(), node.get_name()
        lines.append("  " * depth + f"{role} '{name}'")
        if role == "entry" and name.startswith("Session key"):
            found.append(node)
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child:
                walk(child, depth + 1, lines, found)
    except GLib.Error as error:
        lines.append("  " * depth + f"unreadable: {error}")


deadline = time.monotonic() + float(sys.argv[1] if len(sys.argv) > 1 else 30)
lines = []
while time.monotonic() < deadline:
    desktop = Atspi.get_desktop(0)
    lines = []
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if not application or application.get_name() != "Orvo Tendra - Kelvane":
            continue
        found = []
        walk(application, 0, lines, found)
        if found:
            print("page-reachable: the session key field is in the window's tree")
            sys.exit(0)
    time.sleep(0.5)
print("page-reachable: no session key field under the application's window; the tree was:")
print("\n".join(lines) or "(no application named Orvo Tendra - Kelvane)")
sys.exit(1)
