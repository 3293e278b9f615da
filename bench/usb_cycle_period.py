"""The exchange cycle's real period in the Linux hardware edition: the real
kvx340 on an emulated controller, its panel open for a while; the times at
which the controller received the command frames give the periods.

Usage (inside with-desktop):
  usb_cycle_period.py PATH/TO/kvx340-usb-emulator PATH/TO/kvx340 SECONDS
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "desktop"))
import atspi_client as ui  # noqa: E402

emulator_path, program, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
with tempfile.TemporaryDirectory() as tmp:
    log = os.path.join(tmp, "usb")
    emulator = subprocess.Popen([emulator_path, "--log", log, "--log-times", "--", program])
    try:
        app = ui.application()
        ui.click(ui.find(ui.window(app, "Select Device"), "push button", "OK"))
        panel = ui.window(app, "KVX-340 Stepper Motor Control Panel")
        time.sleep(seconds)
        ui.click(ui.find(panel, "push button", "Exit"))
        emulator.wait(timeout=20)
    finally:
        if emulator.poll() is None:
            emulator.kill()
            emulator.wait()
    with open(log) as f:
        times = [float(line.split()[0]) for line in f if " X frame out " in line]

periods = sorted((b - a) * 1000 for a, b in zip(times, times[1:]))
if len(periods) < 10:
    sys.exit(f"only {len(times)} frames received")
late = sum(p > 35 for p in periods)
print(f"{len(times)} frames in {times[-1] - times[0]:.2f} s: period mean {statistics.mean(periods):.2f} ms, "
      f"median {statistics.median(periods):.2f} ms, 1st percentile {periods[len(periods) // 100]:.2f} ms, "
      f"99th percentile {periods[len(periods) * 99 // 100]:.2f} ms, longest {periods[-1]:.2f} ms, "
      f"{late} over 35 ms")
