#!/usr/bin/env python3
"""Time from the start of `kvx340ctl --simulator status` to its exit: the
process started, the simulator library bound, the controllers listed, one
opened, one exchange, the close and the output. Prints the median, min and
max of N runs (20 by default), in milliseconds.

  bench/ctl_status_time.py PATH/TO/kvx340ctl [N]

The simulated controller is kept in a folder of its own, as in a user's
session (the first run creates its file).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

program = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
with tempfile.TemporaryDirectory() as folder:
    env = dict(os.environ, KVX340_SIM_STATE_DIR=folder)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        done = subprocess.run([program, "--simulator", "-d", "0", "status"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        times.append((time.perf_counter() - start) * 1000)
        if done.returncode != 0:
            sys.exit(f"kvx340ctl ended with {done.returncode}: {done.stderr.decode().strip()}")
print(f"kvx340ctl --simulator -d 0 status, {runs} runs: median {statistics.median(times):.1f} ms "
      f"(min {min(times):.1f}, max {max(times):.1f})")
