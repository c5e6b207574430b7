#!/usr/bin/python3
"""Walks the accessibility tree of one running process, as a screen reader reads it.

    atspi_walk.py PID                      prints every visible control of every shown window:
                                           window<TAB>title<TAB>count, then
                                           control<TAB>window<TAB>role<TAB>name<TAB>states
    atspi_walk.py PID --has WINDOW         exits 0 once a shown window has that title
    atspi_walk.py PID --press WINDOW NAME  does the first action of the control so named

The walk exits 1 listing every control with no name or with its class's name for one, or that
the keyboard cannot reach (an enabled control outside the menus that takes no focus), 3 when
the process or the window is not (yet) there, 4 when the control to press is not there.
"""
import re
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

R = Atspi.Role
# What a user operates: a screen reader has to say what each of these is.
CONTROLS = {
    R.PUSH_BUTTON, R.TOGGLE_BUTTON, R.CHECK_BOX, R.RADIO_BUTTON, R.ENTRY, R.PASSWORD_TEXT,
    R.COMBO_BOX, R.SPIN_BUTTON, R.PAGE_TAB, R.SLIDER, R.PUSH_BUTTON_MENU, R.LINK, R.MENU_ITEM,
    R.CHECK_MENU_ITEM, R.RADIO_MENU_ITEM,
}
# Reached from the menus by their own keys; everything else is reached with Tab.
MENU_ROLES = {R.MENU_ITEM, R.CHECK_MENU_ITEM, R.RADIO_MENU_ITEM}
# A text area counts when it can be edited or focused; static text is a label.
TEXT_ROLES = {R.TEXT}
# Page content is the site's, read by the engine's own tree, not ours to name.
SKIPPED = {R.DOCUMENT_WEB, R.DOCUMENT_FRAME}
WINDOWS = {R.FRAME, R.WINDOW, R.DIALOG}
# Bounds against a runaway tree (a table of thousands of rows).
MAX_NODES = 20000
MAX_DEPTH = 60


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def shown_windows(app):
    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        if window is None or window.get_role() not in WINDOWS:
            continue
        if window.get_state_set().contains(Atspi.StateType.SHOWING):
            yield window


def is_control(node, role):
    if role in CONTROLS:
        return True
    if role in TEXT_ROLES:
        states = node.get_state_set()
        return states.contains(Atspi.StateType.EDITABLE) or states.contains(Atspi.StateType.FOCUSABLE)
    return False


def state_names(node):
    names = []
    states = node.get_state_set()
    for state in (Atspi.StateType.SELECTED, Atspi.StateType.CHECKED, Atspi.StateType.PRESSED,
                  Atspi.StateType.EDITABLE, Atspi.StateType.SENSITIVE):
        if states.contains(state):
            names.append(state.value_nick)
    return ",".join(names)


def controls(window):
    found = []
    stack = [(window, 0)]
    seen = 0
    while stack and seen < MAX_NODES:
        node, depth = stack.pop()
        seen += 1
        try:
            role = node.get_role()
            # The toolkit marks only windows as showing; a hidden control is not visible.
            showing = node.get_state_set().contains(Atspi.StateType.VISIBLE)
        except Exception:
            continue
        if role in SKIPPED or not showing:
            continue
        if node is not window and is_control(node, role):
            found.append(node)
        if depth >= MAX_DEPTH:
            continue
        count = node.get_child_count()
        for i in reversed(range(count)):
            child = node.get_child_at_index(i)
            if child is not None:
                stack.append((child, depth + 1))
    return found


# Without a name of its own a control is read by its class: "gtkmm__GtkEntry", "GtkToggleButton".
CLASS_NAME = re.compile(r"^(gtkmm__\w*|Gtk[A-Z]\w*)$")


def unnamed(name):
    return not name.strip() or CLASS_NAME.match(name) is not None


def focusable(node, depth=0):
    # A drop-down takes the focus in the button inside it.
    if node.get_state_set().contains(Atspi.StateType.FOCUSABLE):
        return True
    return depth < 2 and any(
        child is not None and focusable(child, depth + 1)
        for child in (node.get_child_at_index(i) for i in range(node.get_child_count())))


def reachable(node):
    states = node.get_state_set()
    return (node.get_role() in MENU_ROLES or not states.contains(Atspi.StateType.SENSITIVE)
            or focusable(node))


def walk(app):
    faults = []
    for window in shown_windows(app):
        title = window.get_name()
        found = controls(window)
        print("window\t%s\t%d" % (title, len(found)))
        for node in found:
            name = node.get_name() or ""
            line = "%s\t%s\t%s\t%s" % (title, node.get_role_name(), name, state_names(node))
            print("control\t" + line)
            if unnamed(name):
                faults.append("unnamed\t" + line)
            if not reachable(node):
                faults.append("unreachable\t" + line)
    for line in faults:
        print(line, file=sys.stderr)
    return 1 if faults else 0


def find_window(app, title):
    for window in shown_windows(app):
        if window.get_name() == title:
            return window
    return None


def press(app, title, name):
    window = find_window(app, title)
    if window is None:
        return 3
    for node in controls(window):
        if node.get_name() == name:
            if Atspi.Action.get_n_actions(node) < 1:
                return 4
            Atspi.Action.do_action(node, 0)
            return 0
    return 4


def main(argv):
    Atspi.init()
    # One slow answer is not a reason to hang the test that polls this.
    Atspi.set_timeout(5000, 10000)
    app = application(int(argv[1]))
    if app is None:
        return 3
    if len(argv) == 4 and argv[2] == "--has":
        return 0 if find_window(app, argv[3]) is not None else 3
    if len(argv) == 5 and argv[2] == "--press":
        return press(app, argv[3], argv[4])
    if len(argv) == 2:
        return walk(app)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
