"""The real kvx340 on emulated controllers, through our USB library and real
usbdevfs traffic:

- it lists both controllers, opens the first, moves it to 12.5 (188 steps
  sent with the offset 2^30) and on Exit closes the link once, exit code 0;
- a controller unplugged while the panel runs ends the program with its
  write failure message and exit code 1, without a close request;
- a controller another program holds, and one the user may not open, give
  "Error opening device" with its name, and exit code 1.

Usage (inside with-desktop):
  hardware_edition_check.py PATH/TO/kvx340-usb-emulator PATH/TO/kvx340
"""
import os
import subprocess
import sys
import tempfile

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
import atspi_client as ui  # noqa: E402

EMULATOR, PROGRAM = sys.argv[1], sys.argv[2]
DIALOG = "Select Device"
PANEL = "KVX-340 Stepper Motor Control Panel"
# Bytes 8 to 11 of the frame: 188 steps plus 2^30, little-endian.
TARGET_188 = "bc000040"
GO, ENABLE = 0x01, 0x08


def started(log, *faults):
    return subprocess.Popen([EMULATOR, "--log", log, *faults, "--", PROGRAM])


def lines(log):
    """The log's lines; none when nothing was logged."""
    if not os.path.exists(log):
        return []
    with open(log) as f:
        return [line.strip() for line in f]


def frames_out(log):
    """The command frames the first controller received, as bytes."""
    prefix = "X frame out "
    return [bytes.fromhex(line[len(prefix):]) for line in lines(log) if line.startswith(prefix)]


def arrived_position(log):
    """The motor position of the last status frame from the first controller."""
    arrived = [line for line in lines(log) if line.startswith("X frame in ")]
    return bytes.fromhex(arrived[-1].split()[-1])[0:4].hex() if arrived else None


def link_requests(log):
    return [line for line in lines(log) if " request " in line]


def move_and_exit(tmp):
    log = os.path.join(tmp, "usb")
    emulator = started(log)
    try:
        app = ui.application()
        dialog = ui.window(app, DIALOG)
        entries = ui.combo_entries(ui.find(dialog, "combo box"))
        assert entries == ["KVX-340 X", "KVX-340 Y"], f"listed {entries}"
        ui.click(ui.find(dialog, "push button", "OK"))
        panel = ui.window(app, PANEL)
        target = ui.find(panel, "text", "Target Position")
        target.queryEditableText().setTextContents("12.5")
        target.queryComponent().grabFocus()
        ui.wait_for(lambda: target.getState().contains(pyatspi.STATE_FOCUSED), "the focus in Target Position")
        # Enter in the position box is Go held while the key is down: held
        # until a frame has carried it, however late the ticks come.
        subprocess.run(["xdotool", "keydown", "Return"], check=True)
        ui.wait_for(lambda: any(f[8:12].hex() == TARGET_188 and f[3] & GO for f in frames_out(log)),
                    "a frame with Go and the target 188")
        subprocess.run(["xdotool", "keyup", "Return"], check=True)
        ui.wait_for(lambda: arrived_position(log) == TARGET_188, "the axis at 188 + 2^30")
        ui.click(ui.find(panel, "push button", "Exit"))
        code = emulator.wait(timeout=20)
    finally:
        if emulator.poll() is None:
            emulator.kill()
            emulator.wait()
    moves = [f for f in frames_out(log) if f[8:12].hex() == TARGET_188 and f[3] & (GO | ENABLE) == GO | ENABLE]
    requests = link_requests(log)
    position = arrived_position(log)
    failures = []
    if code != 0:
        failures.append(f"exit code {code}")
    if not moves:
        failures.append("no frame carried Go, Enable and the target 188 + 2^30")
    if requests != ["X request flush", "X request open", "X request close"]:
        failures.append(f"link requests {requests}")
    if position != TARGET_188:
        failures.append(f"the axis reported {position} last, not 188 + 2^30")
    if any(line.startswith("Y ") for line in lines(log)):
        failures.append("the second controller was used")
    return failures


def failure_box(log, *fault):
    """OK in the dialog on an emulated controller with this fault; the texts
    of the failure box that follows, and the program's exit code."""
    emulator = started(log, *fault)
    try:
        app = ui.application()
        ui.click(ui.find(ui.window(app, DIALOG), "push button", "OK"))
        alert = ui.find(app, "alert", timeout=30)
        texts = [node.name for node in ui.walk(alert) if ui.role(node) == "label"]
        ui.click(ui.find(alert, "push button", "OK"))
        code = emulator.wait(timeout=20)
    finally:
        if emulator.poll() is None:
            emulator.kill()
            emulator.wait()
    return texts, code


def unplug(tmp):
    log = os.path.join(tmp, "usb-unplug")
    texts, code = failure_box(log, "--unplug-after", "1.5")
    failures = []
    message = [t for t in texts if t.startswith("Error writing to USB.")]
    if not message or "Application is aborting." not in message[0]:
        failures.append(f"message {texts}")
    if code != 1:
        failures.append(f"exit code {code}")
    if "X unplugged" not in lines(log) or "X request close" in lines(log):
        failures.append(f"log {[line for line in lines(log) if 'frame' not in line]}")
    return failures


def not_opened(tmp, fault):
    log = os.path.join(tmp, "usb-not-opened")
    texts, code = failure_box(log, fault)
    failures = []
    if not any(t.startswith("Error opening device: KVX-340 X. Application is aborting.") for t in texts):
        failures.append(f"message {texts}")
    if code != 1:
        failures.append(f"exit code {code}")
    if link_requests(log):
        failures.append(f"link requests {link_requests(log)}")
    return failures


failed = 0
for name, check in (("move to 12.5 and Exit", move_and_exit), ("unplugged mid-run", unplug),
                    ("held by another program", lambda tmp: not_opened(tmp, "--held-elsewhere")),
                    ("not to be opened by the user", lambda tmp: not_opened(tmp, "--refuse-open"))):
    with tempfile.TemporaryDirectory() as tmp:
        found = check(tmp)
    print(f"{name}: {'ok' if not found else 'FAILED: ' + '; '.join(found)}", flush=True)
    failed += bool(found)
sys.exit(1 if failed else 0)
