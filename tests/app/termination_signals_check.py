"""Sends SIGTERM, SIGINT and SIGHUP to the real program in each of its states
and checks that it ends as the operator's own way out from there would:

- dialog up: as Cancel, exit code 0, no open and no close;
- panel open: the controller closed exactly once, exit code 0;
- failure message up: no close, exit code 1.

Usage (inside with-desktop): termination_signals_check.py PATH/TO/kvx340-sim
"""
import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
import atspi_client as ui  # noqa: E402

PROGRAM = sys.argv[1]
DIALOG = "Select Device"
PANEL = "KVX-340 Stepper Motor Control Panel"


def calls(log):
    """The calls that list, open and close controllers, in order."""
    with open(log) as lines:
        names = [line.split()[0] for line in lines]
    return [name for name in names if name in ("SI_GetNumDevices", "SI_Open", "SI_Close")]


def run(state, signum):
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "calls")
        variables = {"KVX340_SIM_CALL_LOG": log}
        if state == "failure message":
            variables["KVX340_SIM_FAULTS"] = "fail-read@1"
        with ui.running(PROGRAM, **variables) as program:
            app = ui.application()
            ui.window(app, DIALOG)
            if state != "dialog":
                ui.click(ui.find(app, "push button", "OK"))
                if state == "panel":
                    ui.window(app, PANEL)
                else:
                    ui.find(app, "alert")
            program.send_signal(signum)
            code = program.wait(timeout=10)
        return code, calls(log)


EXPECTED = {
    "dialog": (0, ["SI_GetNumDevices"]),
    "panel": (0, ["SI_GetNumDevices", "SI_Open", "SI_Close"]),
    "failure message": (1, ["SI_GetNumDevices", "SI_Open"]),
}

failures = 0
for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    for state, expected in EXPECTED.items():
        seen = run(state, signum)
        verdict = "ok" if seen == expected else f"FAILED: exit code and calls {seen}, wanted {expected}"
        print(f"{signal.Signals(signum).name} with the {state} up: {verdict}", flush=True)
        failures += seen != expected

print(f"termination signals: {9 - failures} of 9 ended as expected")
sys.exit(1 if failures else 0)
