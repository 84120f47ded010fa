#!/usr/bin/python3
"""Reads the running Kavoni window over AT-SPI, the bus that screen readers use, and prints
or checks what a screen reader would announce.

usage: atspi.py box-text TITLE   the text shown in the window titled TITLE
       atspi.py cell-state N     "checked" or "clear" for grid cell N (0 to 63)
       atspi.py check-window     the window's accessible structure; non-zero exit on a fault

Needs the accessibility bus up before the program starts (start-bus does that), and the
program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 or a screen reader running.
"""
import sys
import time

import pyatspi


def application():
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Kavoni":
                return app
        time.sleep(0.1)
    sys.exit("atspi: no application named Kavoni on the accessibility bus")


def descendants(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from descendants(child)


def window(title):
    for _ in range(100):
        for top in application():
            if top is not None and top.name == title:
                return top
        time.sleep(0.1)
    sys.exit(f"atspi: no window named {title!r}")


def cells(top):
    return [node for node in descendants(top) if node.getRole() == pyatspi.ROLE_CHECK_BOX]


def box_text(title):
    # A label announces its text as its name.
    for node in descendants(window(title)):
        if node.getRole() == pyatspi.ROLE_LABEL and node.name:
            print(node.name)


def cell_state(index):
    cell = cells(window("Kavoni"))[index]
    print("checked" if cell.getState().contains(pyatspi.STATE_CHECKED) else "clear")


def check_window():
    faults = []
    top = window("Kavoni")
    if top.getRole() not in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW):
        faults.append(f"the window is a {top.getRoleName()}, not a frame")
    names = [cell.name for cell in cells(top)]
    expected = [f"Pixel row {r}, column {c}" for r in range(1, 9) for c in range(1, 9)]
    if names != expected:
        faults.append(f"the check boxes are named {names}")
    buttons = [n.name for n in descendants(top) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON]
    if buttons != ["Make Sprite"]:
        faults.append(f"the buttons are {buttons}")
    texts = [n for n in descendants(top) if n.getRole() == pyatspi.ROLE_TEXT]
    if len(texts) != 1:
        faults.append(f"{len(texts)} text boxes")
    else:
        labels = [
            target.name
            for relation in texts[0].getRelationSet()
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
            for target in (relation.getTarget(i) for i in range(relation.getNTargets()))
        ]
        if labels != ["Sprite Name"]:
            faults.append(f"the name box is labelled by {labels}")
    for fault in faults:
        print("FAULT:", fault)
    sys.exit(1 if faults else 0)


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "start-bus":
        pyatspi.Registry.getDesktop(0)
    elif command == "box-text" and len(sys.argv) == 3:
        box_text(sys.argv[2])
    elif command == "cell-state" and len(sys.argv) == 3:
        cell_state(int(sys.argv[2]))
    elif command == "check-window" and len(sys.argv) == 2:
        check_window()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
