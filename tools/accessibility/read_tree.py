"""Reads the wizard's accessibility tree through AT-SPI; run by read-tree."""
import subprocess
import sys
import time

import pyatspi

TIMEOUT = 120  # seconds: the demo builds what it needs first


def wait_for(what, find, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        found = find()
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"read-tree: no {what} within {timeout} s")


def wizard():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and "tallowby" in (app.name or "").lower():
            return app
    return None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def page(app):
    app.clearCache()  # the tool's copy of the window list does not follow pages shown later
    for i in range(app.childCount):
        frame = app.getChildAtIndex(i)
        if frame is not None and showing(frame):
            return frame
    return None


def walk(acc, depth=0):
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is None or not showing(child):
            continue
        yield depth, child
        yield from walk(child, depth + 1)


def describe(acc):
    parts = [f"{acc.getRoleName()}: {acc.name!r}"]
    if acc.description:
        parts.append(f"description {acc.description!r}")
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            parts.append(f"labelled by {relation.getTarget(0).name!r}")
    try:
        action = acc.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if names:
            parts.append("actions " + ",".join(names))
    except NotImplementedError:
        pass
    return "; ".join(parts)


def show(frame):
    print(f"== {frame.getRoleName()}: {frame.name!r}")
    for depth, acc in walk(frame):
        print("   " + "  " * depth + describe(acc))


def act(acc, name):
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            action.doAction(i)
            return
    sys.exit(f"read-tree: {acc.name!r} has no action {name!r}")


def press(frame, name):
    button = find(frame, "push button", name)
    if button is None:
        sys.exit(f"read-tree: no push button {name!r}")
    act(button, "Press")


def find(frame, role, name=None):
    for _, acc in walk(frame):
        if acc.getRoleName() == role and (name is None or acc.name == name):
            return acc
    return None


def page_with(app, role, name=None):
    """The page shown once it holds an accessible of `role` (and `name`)."""
    return wait_for(f"page with {role} {name or ''}",
                    lambda: (f := page(app)) and find(f, role, name) and f)


def main():
    app = wait_for("wizard on the accessibility bus", wizard)
    tables = page_with(app, "list item")
    show(tables)
    window_actions()

    # Choose sales.Customers by its item's action, and press "Next >".
    listing = find(tables, "list", "Tables")
    items = [listing.getChildAtIndex(i) for i in range(listing.childCount)]
    print(f"-- the list holds: {[item.name for item in items]}")
    act(next(item for item in items if item.name == "sales.Customers"), "Toggle")
    press(tables, "Next >")
    options = page_with(app, "text", "XML preview")
    show(options)
    preview = find(options, "text", "XML preview").queryText()
    first = preview.getTextAtOffset(0, pyatspi.TEXT_BOUNDARY_LINE_START)
    print(f"-- preview: {preview.characterCount} characters; first line {first[0]!r}")
    preview.setCaretOffset(first[2] + 4)
    caret = preview.caretOffset
    line = preview.getTextAtOffset(caret, pyatspi.TEXT_BOUNDARY_LINE_START)
    print(f"-- caret at {caret}; its line {line[0]!r}")

    after = preview.getTextAtOffset(line[2], pyatspi.TEXT_BOUNDARY_LINE_START)
    after = preview.getTextAtOffset(after[2], pyatspi.TEXT_BOUNDARY_LINE_START)
    print(f"-- two lines on {after[0]!r}")
    window_actions()

    # An edit made through the editable-text interface, and what the tools are told of it.
    heard = []
    def hear(event):
        heard.append(f"{event.type} {event.detail1} {event.detail2} {event.any_data!r}")
    kinds = ["object:text-caret-moved", "object:text-changed",
             "object:property-change:accessible-description"]
    pyatspi.Registry.registerEventListener(hear, *kinds)
    pump(1.0)  # the wizard learns of the listener through the bus
    editor = find(options, "text", "XML preview")
    editable = editor.queryEditableText()
    editable.insertText(caret, "<", 1)
    preview.setCaretOffset(caret + 1)
    pump(2.0)  # the check runs half a second after the change
    print(f"-- after '<' typed at {caret}: description {editor.description!r}")
    editable.deleteText(caret, caret + 1)
    pump(2.0)
    print(f"-- after it was taken away: description {editor.description!r}")
    pyatspi.Registry.deregisterEventListener(hear, *kinds)
    for event in heard:
        print(f"   event {event}")

    press(options, "Next >")
    output = page_with(app, "push button", "...")
    show(output)
    window_actions()
    press(output, "< Back")
    press(page_with(app, "text", "XML preview"), "< Back")
    press(page_with(app, "list", "Tables"), "< Back")
    connection = page_with(app, "password text")
    show(connection)
    window_actions()
    press(connection, "Cancel")  # the wizard ends, and the demo with it


def pump(seconds):
    from gi.repository import GLib
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not context.iteration(False):
            time.sleep(0.02)


def window_actions():
    """What the window manager offers for the page shown."""

    clients = subprocess.run(["xprop", "-root", "_NET_CLIENT_LIST"], capture_output=True,
                             text=True).stdout.split("#")[-1]
    for window in [w.strip() for w in clients.split(",") if w.strip()]:
        props = subprocess.run(["xprop", "-id", window, "WM_NAME", "_NET_WM_ALLOWED_ACTIONS"],
                               capture_output=True, text=True).stdout
        print("-- window manager: " + " ".join(props.split()))


if __name__ == "__main__":
    main()
