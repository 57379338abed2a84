#!/usr/bin/python3
"""Reads the running brimlow window the way a screen reader does, over Qt's AT-SPI bridge, and checks that the
named controls are there, that the counters and list rows read as values and that no control goes without a
name. A manual check, not part of CTest: an accessibility bus is too easily upset to gate a build on.

    dbus-run-session -- scripts/a11y_check.py build-test/brimlow [DATA_DIRECTORY]
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

NAMES = ["Subject", "Message", "Length", "Sent", "Rejected", "Queue", "Subscribers", "Tracking", "Result"]
# What an operator acts on or reads: each must be announced by a name.
CONTROL_ROLES = {"push button", "check box", "radio button", "text", "list", "combo box", "page tab", "menu",
                 "menu item", "spin button", "table", "tree", "list item"}


def walk(node, depth=0):
    yield node
    if depth > 25:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def text_of(node):
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return None


def main():
    binary = sys.argv[1]
    work = tempfile.mkdtemp(prefix="brimlow-a11y-")
    data = sys.argv[2] if len(sys.argv) > 2 else os.path.join(work, "data")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               XDG_CONFIG_HOME=os.path.join(work, "config"), BRIMLOW_LAN_PORT="47777")
    # Xvfb picks a free display and writes its number once it accepts clients.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp"],
                            pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        env["DISPLAY"] = ":" + numbers.readline().strip()
    console = subprocess.Popen([binary, "--data", data], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        app = None
        for _ in range(100):
            desktop = pyatspi.Registry.getDesktop(0)
            app = next((a for a in desktop if a is not None and a.name == "brimlow"), None)
            if app is not None and app.childCount:
                break
            time.sleep(0.2)
        if app is None:
            print("brimlow did not appear on the accessibility bus")
            return 1
        found = {}
        failures = 0
        controls = 0
        for node in walk(app):
            if node.getRoleName() in CONTROL_ROLES:
                controls += 1
                if not node.name:
                    print(f"a {node.getRoleName()} without a name, in {node.parent.name!r}")
                    failures += 1
            # The Queue button and the Queue counter share a name: the counter is the one with text.
            if node.name in NAMES and (node.name not in found or text_of(found[node.name]) is None):
                found[node.name] = node
        for name in NAMES:
            node = found.get(name)
            if node is None:
                print(f"missing: {name}")
                failures += 1
                continue
            value = text_of(node)
            rows = [node.getChildAtIndex(i).name for i in range(min(node.childCount, 3))]
            print(f"{name}: role {node.getRoleName()}, text {value!r}, first rows {rows}")
            if name in ("Length", "Sent", "Rejected", "Queue") and not (value or "").isdigit():
                print(f"  {name} does not read as a number")
                failures += 1
        print(f"{controls} controls read")
        return 1 if failures else 0
    finally:
        console.terminate()
        console.wait()
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
