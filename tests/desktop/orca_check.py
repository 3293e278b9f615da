"""What Orca, the screen reader of Linux desktops, says of the running program.

    with-desktop /usr/bin/python3 orca_check.py PROGRAM

PROGRAM is the edition on the simulated controllers. Orca runs headless and
writes what it speaks to a transcript (its SPEECH OUTPUT lines). Fails when
the Tab walk through the panel passes a control without its name, or when
the axis's first status (the lamps leaving their red start) is not spoken
exactly once, whatever has the focus. Only Tab and Space are pressed: other
keys reach the program only after Orca has answered for them, which here
sometimes never happens.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import atspi_client as atspi

PANEL = "KVX-340 Stepper Motor Control Panel"
# The panel's tab order from "Exit", by the names Orca gives the controls.
TAB_WALK = ["Joystick Control", "GO", PANEL, "Real Position", "Target Position", "STOP", "ZERO",
            "Maximal Speed", "Acceleration/Deceleration", "Motor Current Amplitude", "Reverse",
            "Act Hi", "R", "% of Amplitude when Idle", "Exit"]
FIRST_STATUS = "Left limit: clear. Right limit: clear. Busy: idle"
SPEECH = re.compile(r"SPEECH OUTPUT: '(.*)'\s*\{")


def notice(words):
    """How Orca speaks a notification with these words."""
    return f"notification {words}."


def spoken(transcript):
    with open(transcript, errors="replace") as lines:
        return [m.group(1) for m in map(SPEECH.search, lines) if m]


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, stdout=subprocess.DEVNULL)


def start_orca(folder):
    """Orca writes its debug file through a buffer that fills only now and
    then; written to a terminal it goes out line by line, so it is given
    one (script's), whose every line script copies to the transcript."""
    transcript = os.path.join(folder, "orca.txt")
    command = f"orca --replace -u {os.path.join(folder, 'prefs')} --debug-file /dev/tty"
    orca = subprocess.Popen(["script", "--quiet", "--flush", "--command", command, transcript],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    atspi.wait_for(lambda: os.path.exists(transcript) and "Screen reader on." in spoken(transcript),
                   "Orca to start", timeout=90)
    return orca, transcript


def said_since(transcript, start, test, what, timeout=60.0):
    try:
        atspi.wait_for(lambda: any(test(line) for line in spoken(transcript)[start:]), what, timeout)
    except AssertionError:
        raise AssertionError(f"Orca did not say {what}; it said {spoken(transcript)[start:][-25:]!r}") from None


def key(transcript, name, then):
    """Presses a key and waits for Orca to say something that begins with then."""
    start = len(spoken(transcript))
    xdotool("key", name)
    said_since(transcript, start, lambda line: line.startswith(then), repr(then), timeout=30)


def check_tab_walk(transcript, failures):
    for name in TAB_WALK:
        try:
            key(transcript, "Tab", name)
        except AssertionError as missed:
            failures.append(f"Tab to {name!r}: {missed}")


def check_spoken_once(transcript, failures):
    """The first status frame turns the lamps from their red start to the
    axis's state: spoken once, and nothing again while the axis stands."""
    time.sleep(1.5)
    lines = spoken(transcript)
    notices = [line for line in lines if line.startswith("notification")]
    if notices != [notice(FIRST_STATUS)]:
        failures.append(f"notifications spoken {notices!r}, wanted {notice(FIRST_STATUS)!r} once")
    return notices


def main():
    program = sys.argv[1]
    failures = []
    # A loaded machine may hold xdotool between a key's press and its
    # release for longer than the server's repeat delay: a repeated Tab
    # would skip a control.
    subprocess.run(["xset", "r", "off"], check=True)
    with tempfile.TemporaryDirectory() as folder:
        orca, transcript = start_orca(folder)
        try:
            with atspi.running(program) as process:
                # The window manager activates the new window; Orca tells when.
                said_since(transcript, 0, lambda line: line.startswith("Select Device frame"), "the dialog")
                key(transcript, "Tab", "OK push button")
                key(transcript, "space", PANEL)
                said_since(transcript, 0, lambda line: line == notice(FIRST_STATUS), "the first status")
                check_tab_walk(transcript, failures)
                notices = check_spoken_once(transcript, failures)
                process.send_signal(signal.SIGTERM)  # ends as Exit does
                if process.wait(timeout=20) != 0:
                    failures.append(f"the program ended with {process.returncode}")
        finally:
            orca.terminate()
            orca.wait()
    if failures:
        print("\n".join(failures), file=sys.stderr)
        return 1
    print("Orca named every control on the Tab walk and spoke the axis's first status once:")
    print("\n".join(f"  {line}" for line in notices))
    return 0


if __name__ == "__main__":
    sys.exit(main())
