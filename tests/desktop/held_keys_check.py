"""A command held by a key ends with the key, wherever its release lands,
checked on the real program with real key and mouse events (xdotool) and
the simulated controller's call log.

    with-desktop /usr/bin/python3 held_keys_check.py PROGRAM

PROGRAM is the edition on the simulated controllers. For each case the
frames must carry the held command while the key is down and must not
after its release: the last command byte the log shows is then 08 (the
enabled drive alone).

The server's auto-repeat is off for the cases of where a release lands:
the repeats themselves are the in-process tests' business. One case holds
Escape through the server's repeats, fast ones: the panel asks the server
for repeats as presses alone, so no release of a repeat may end STOP, and
no frame of the hold may go without it.
"""
import os
import subprocess
import sys
import tempfile
import time

import atspi_client as atspi

PANEL = "KVX-340 Stepper Motor Control Panel"
STOP, ZERO, IDLE = "0a", "0c", "08"


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


def commands(log):
    with open(log) as lines:
        return [line.split()[-1] for line in lines if line.startswith("SI_Write 0 command")]


def wait_for_command(log, byte, what):
    atspi.wait_for(lambda: commands(log) and commands(log)[-1] == byte, what, timeout=30)


def mouse_click(node):
    """A real click in the middle of the element, not an accessible action."""
    x, y, width, height = node.queryComponent().getExtents(atspi.pyatspi.DESKTOP_COORDS)
    xdotool("mousemove", x + width // 2, y + height // 2, "click", 1)


def released_in_the_refusal_box(app, panel, log):
    target = atspi.find(panel, "text", "Target Position")
    mouse_click(target)
    xdotool("key", "ctrl+a")
    xdotool("type", "--", "1e400")
    xdotool("keydown", "Escape")
    wait_for_command(log, STOP, "Escape to send STOP")
    mouse_click(atspi.find(panel, "push button", "GO"))
    box = atspi.find(app, "alert")
    xdotool("keyup", "Escape")
    atspi.click(atspi.find(box, "push button", "OK"))


def released_in_another_program(other, log):
    xdotool("keydown", "Escape")
    wait_for_command(log, STOP, "Escape to send STOP")
    xdotool("windowactivate", "--sync", other)
    xdotool("keyup", "Escape")


def released_after_a_click_elsewhere(panel, log):
    zero = atspi.find(panel, "push button", "ZERO")
    zero.queryComponent().grabFocus()
    atspi.wait_for(lambda: zero.getState().contains(atspi.pyatspi.STATE_FOCUSED), "ZERO to have the focus")
    xdotool("keydown", "space")
    wait_for_command(log, ZERO, "Space to send ZERO")
    mouse_click(atspi.find(panel, "text", "Target Position"))
    xdotool("keyup", "space")


def held_through_the_repeats(log):
    subprocess.run(["xset", "r", "on"], check=True)
    subprocess.run(["xset", "r", "rate", "200", "50"], check=True)
    start = len(commands(log))
    xdotool("keydown", "Escape")
    wait_for_command(log, STOP, "Escape to send STOP")
    time.sleep(3)  # the hold: some 140 of the server's repeats
    held = commands(log)[start:]
    xdotool("keyup", "Escape")
    subprocess.run(["xset", "r", "off"], check=True)
    dropped = sum(1 for byte in held[held.index(STOP):] if byte != STOP)
    if dropped:
        raise AssertionError(f"STOP left the frames {dropped} times during the repeats")


def main():
    program = sys.argv[1]
    failures = []
    xset = subprocess.run(["xset", "r", "off"])
    if xset.returncode != 0:
        print("could not turn the keyboard's auto-repeat off", file=sys.stderr)
        return 1
    other_program = subprocess.Popen(["xmessage", "-name", "other", "another program"])
    try:
        other = atspi.wait_for(
            lambda: subprocess.run(["xdotool", "search", "--name", "^other$"], capture_output=True,
                                   text=True).stdout.split(), "another program's window")[0]
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "calls")
            with atspi.running(program, KVX340_SIM_CALL_LOG=log) as process:
                app = atspi.application()
                atspi.click(atspi.find(atspi.window(app, "Select Device"), "push button", "OK"))
                panel = atspi.window(app, PANEL)
                panel_window = atspi.wait_for(
                    lambda: subprocess.run(["xdotool", "search", "--name", f"^{PANEL}$"], capture_output=True,
                                           text=True).stdout.split(), "the panel's window")[0]
                cases = (("Escape released in the refusal box", lambda: released_in_the_refusal_box(app, panel, log)),
                         ("Escape released in another program", lambda: released_in_another_program(other, log)),
                         ("Space on ZERO released after a click elsewhere",
                          lambda: released_after_a_click_elsewhere(panel, log)),
                         ("Escape held through the server's repeats", lambda: held_through_the_repeats(log)))
                for name, case in cases:
                    xdotool("windowactivate", "--sync", panel_window)
                    try:
                        case()
                    except AssertionError as error:
                        failures.append(f"{name}: {error}")
                    # The next ticks, however late, must carry the drive alone.
                    try:
                        wait_for_command(log, IDLE, "the frames to carry the drive alone")
                        print(f"{name}: ended with the key")
                    except AssertionError:
                        failures.append(f"{name}: the frames still carry command {commands(log)[-1]}")
                xdotool("windowactivate", "--sync", panel_window)
                atspi.click(atspi.find(panel, "push button", "Exit"))
                if process.wait(timeout=20) != 0:
                    failures.append("Exit did not end with 0")
    finally:
        other_program.kill()
        other_program.wait()
    if failures:
        print("\n".join(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
