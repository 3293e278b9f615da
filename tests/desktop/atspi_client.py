"""What a screen reader sees of the running program, through AT-SPI.

Run with Debian's /usr/bin/python3 (python3-pyatspi) inside with-desktop.
"""
import contextlib
import os
import subprocess
import time

import pyatspi

APPLICATION = "KVX-340"


@contextlib.contextmanager
def running(program, **variables):
    """Starts the program with these environment variables set (a fault
    script, a call log) and none inherited from the caller's; it is killed on
    leaving if it has not ended by then."""
    # The simulator's state folder stays: the suite runs every program on
    # fresh controllers.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("KVX340_SIM_") or k == "KVX340_SIM_STATE_DIR"}
    env.update(variables)
    process = subprocess.Popen([program], env=env)
    try:
        yield process
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def wait_for(probe, what, timeout=60.0):
    """Polls probe() until it returns something truthy; fails after timeout.
    The bounds are generous: a loaded machine answers late, and a wait ends
    as soon as the probe holds."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            found = probe()
        except Exception:  # the tree changes under us while windows come and go
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.2)


def application(name=APPLICATION, timeout=60.0):
    def probe():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        return None

    return wait_for(probe, f"application {name!r} on the accessibility bus", timeout)


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def role(node):
    return node.getRoleName()


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def find(root, role_name, name=None, timeout=60.0):
    """The first element below root with this role (and name, if given) that is showing."""

    def probe():
        for node in walk(root):
            if role(node) == role_name and (name is None or node.name == name) and showing(node):
                return node
        return None

    return wait_for(probe, f"{role_name} {name!r}", timeout)


def window(app, title, timeout=60.0):
    """A top-level window of the application by its title, once it is showing."""

    def probe():
        for node in app:
            if node is not None and node.name == title and showing(node):
                return node
        return None

    return wait_for(probe, f"window {title!r}", timeout)


def click(node):
    """Performs the element's default action, as a screen reader user would."""
    node.queryAction().doAction(0)


def unnamed(root):
    """Every showing element below root that a screen reader would find without a name."""
    return [node for node in walk(root) if showing(node) and not node.name]


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def combo_entries(combo):
    """The texts of a combo box's entries in order, whether its list is open or not."""
    return [node.name for node in walk(combo) if role(node) == "list item"]


def count_events(event_type, seconds):
    """How many events of this type reach a listener during the given time."""
    from gi.repository import GLib

    seen = []
    listener = seen.append
    pyatspi.Registry.registerEventListener(listener, event_type)
    GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop() or False)
    try:
        pyatspi.Registry.start()
    finally:
        pyatspi.Registry.deregisterEventListener(listener, event_type)
    return len(seen)
