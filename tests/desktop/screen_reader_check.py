"""A screen reader's view of the running program, through AT-SPI.

    with-desktop /usr/bin/python3 screen_reader_check.py PROGRAM

PROGRAM is the edition on the simulated controllers. Fails on an element of
either window that a screen reader would find without a name, on a hidden
text box it could still reach, on a status element whose state words do not
follow the simulated axis or are told again while they stay, on a readout
that tells its text again while the axis stands, on STOP that Space held
does not send once a screen reader has focused it, and on a failure message
box read without its text.
"""
import os
import subprocess
import sys
import tempfile

import atspi_client as atspi

PANEL = "KVX-340 Stepper Motor Control Panel"


def check_names(window, failures):
    failures += [f"an unnamed {atspi.role(node)} in {window.name!r}" for node in atspi.unnamed(window)]
    for node in atspi.walk(window):
        if atspi.role(node) == "text" and not atspi.showing(node):
            failures.append(f"a hidden text box in {window.name!r} is within a screen reader's reach")


def wait_for_description(node, words):
    return atspi.wait_for(lambda: node.description == words, f"{node.name!r} to read {words!r}")


def check_stop_from_the_keyboard(panel, log, failures):
    """STOP focused by a screen reader, not by a click; Space held on it
    must reach the frames (STOP and the enabled drive: command byte 0a)."""
    stop = atspi.find(panel, "push button", "STOP")
    stop.queryComponent().grabFocus()
    atspi.wait_for(lambda: stop.getState().contains(atspi.pyatspi.STATE_FOCUSED), "STOP to have the focus")
    def commands():
        with open(log) as lines:
            return [line.split()[-1] for line in lines if line.startswith("SI_Write 0 command")]

    subprocess.run(["xdotool", "keydown", "space"], check=True)
    try:
        # Held until a tick, however late, has carried it.
        atspi.wait_for(lambda: "0a" in commands(), "a stop in the frames", timeout=30)
    except AssertionError:
        failures.append(f"Space held on STOP sent no stop; the commands were {commands()}")
    subprocess.run(["xdotool", "keyup", "space"], check=True)


def check_both_windows(program, failures):
    with tempfile.TemporaryDirectory() as folder, \
            atspi.running(program, KVX340_SIM_CALL_LOG=os.path.join(folder, "calls")) as process:
        app = atspi.application()
        dialog = atspi.window(app, "Select Device")
        check_names(dialog, failures)
        option = atspi.find(dialog, "check box", "Reverse Limit Switch")
        atspi.click(option)
        atspi.wait_for(lambda: atspi.checked(option), "the option ticked")
        atspi.click(atspi.find(dialog, "push button", "OK"))

        panel = atspi.window(app, PANEL)
        # The simulated axis stands between its switches, idle, with the
        # chosen option reported back.
        for role, name, words in (("push button", "Reverse", "Reverse: on. Reverse Limit Switch Operation"),
                                  ("push button", "Act Hi", "Act Hi: off. Limit Switch Active on HIGH"),
                                  ("image", "Left limit", "Left limit: clear"),
                                  ("image", "Right limit", "Right limit: clear"),
                                  ("image", "Busy", "Busy: idle"),
                                  ("label", "Max Speed", "Max Speed: not reached")):
            wait_for_description(atspi.find(panel, role, name), words)
        check_names(panel, failures)
        # The tick sets every look 30 times a second; unchanged states are not told again.
        told = atspi.count_events("object:property-change:accessible-description", 1.5)
        if told:
            failures.append(f"{told} state notices in 1.5 s from a panel whose states stay")
        told = atspi.count_events("object:text-changed", 1.5)
        if told:
            failures.append(f"{told} text notices in 1.5 s from a panel whose axis stands")
        check_stop_from_the_keyboard(panel, os.path.join(folder, "calls"), failures)
        atspi.click(atspi.find(panel, "push button", "Exit"))
        process.wait(timeout=20)


def check_failure_message(program):
    with atspi.running(program, KVX340_SIM_FAULTS="fail-read@1") as process:
        app = atspi.application()
        atspi.click(atspi.find(atspi.window(app, "Select Device"), "push button", "OK"))
        box = atspi.find(app, "alert")
        text = "Error writing to USB. Read  0 of  12 bytes. Application is aborting. Reset hardware and try again."
        assert box.description == text, f"the failure box reads {box.description!r}"
        atspi.click(atspi.find(box, "push button", "OK"))
        assert process.wait(timeout=20) == 1


def main():
    program = sys.argv[1]
    failures = []
    check_both_windows(program, failures)
    check_failure_message(program)
    if failures:
        print("\n".join(failures), file=sys.stderr)
        return 1
    print("both windows named throughout; state words follow the axis; failure box read with its text")
    return 0


if __name__ == "__main__":
    sys.exit(main())
