#!/usr/bin/python3
"""Reads a window's accessibility tree as a screen reader does, over AT-SPI
(pyatspi), and checks it: every focusable control has a name, no two controls
share one, every scroll bar takes the focus, every label is tied to a control.

    accessibility_check.py PROGRAM

Run it with a display and a session bus: with_xvfb.sh dbus-run-session -- ...
"""
import os
import subprocess
import sys
import time

import pyatspi

CONTROLS = {pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_TEXT, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_ENTRY}


def find_application(name, deadline):
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name and app.childCount > 0:
                window = app.getChildAtIndex(0)
                if window is not None and window.childCount > 0:
                    return window
        time.sleep(0.2)
    return None


def walk(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from walk(child)


def main():
    program = sys.argv[1]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    process = subprocess.Popen([program, "--port", "sim"], env=env)
    problems = []
    try:
        window = find_application(os.path.basename(program), time.time() + 30)
        if window is None:
            print("%s: no accessible window appeared" % program)
            return 1
        names = {}
        scroll_bars = labels = 0
        for node in walk(window):
            role = node.getRole()
            states = node.getState()
            if not states.contains(pyatspi.STATE_SHOWING):
                continue
            name = node.name
            if role in CONTROLS:
                if states.contains(pyatspi.STATE_FOCUSABLE) and not name:
                    problems.append("a focusable %s has no name" % node.getRoleName())
                if name in names:
                    problems.append("two controls are named %r" % name)
                names[name] = node
                if not node.description:
                    problems.append("%r has no description" % name)
            if role == pyatspi.ROLE_SCROLL_BAR:
                scroll_bars += 1
                if not states.contains(pyatspi.STATE_FOCUSABLE):
                    problems.append("scroll bar %r cannot take the focus" % name)
            if role == pyatspi.ROLE_LABEL:
                labels += 1
                relations = [r for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABEL_FOR]
                if not relations or relations[0].getNTargets() == 0:
                    problems.append("label %r is tied to no control" % name)
        print("%s: %d controls, %d scroll bars, %d labels read" % (program, len(names), scroll_bars, labels))
        if scroll_bars != 47:
            problems.append("%d scroll bars, not 47" % scroll_bars)
    finally:
        process.terminate()
        process.wait()
    for problem in problems:
        print("  " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
