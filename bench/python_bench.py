#!/usr/bin/python3
"""The Python package's figures, on the simulator, in one run:

  status round trip through the package (median and 95th percentile, 200 calls);
  a 50-point serpentine scan over both axes, through the package and
    through one kvx340ctl process per move, with their ratio;
  the skew between two axes started together with wait=False;
  the period while subscribed with a reader that never reads, over 10 s;
  kvx340ctl serve standing, subscribed and read: CPU share of a core and RSS.

  bench/python_bench.py [--program build/app/kvx340ctl] [--seconds 10]

A benchmark, never a test: it prints figures and judges nothing.
"""

import argparse
import concurrent.futures
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "python"))
import kvx340  # noqa: E402

ROWS, COLUMNS, STEP = 5, 10, 1.0  # 50 points, 1 unit apart


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def status_round_trip(program):
    with kvx340.open(0, simulator=True, program=program) as axis:
        spans = []
        for _ in range(200):
            start = time.perf_counter()
            axis.status()
            spans.append((time.perf_counter() - start) * 1000)
    print("status round trip, 200 calls: median %.2f ms, p95 %.2f ms, largest %.2f ms"
          % (statistics.median(spans), percentile(spans, 0.95), max(spans)))


def serpentine():
    for row in range(ROWS):
        columns = range(COLUMNS) if row % 2 == 0 else reversed(range(COLUMNS))
        for column in columns:
            yield row * STEP, column * STEP


def scan_package(program):
    start = time.perf_counter()
    with kvx340.open(0, simulator=True, program=program) as x, kvx340.open(1, simulator=True, program=program) as y:
        for at_y, at_x in serpentine():
            if y.reading.position != at_y:
                y.move_to(at_y)
            x.move_to(at_x)
    return time.perf_counter() - start


def scan_processes(program):
    # One program per move, the controllers kept between them as a real
    # one keeps its position.
    with tempfile.TemporaryDirectory() as folder:
        environment = dict(os.environ, KVX340_SIM_STATE_DIR=folder)

        def ctl(*arguments):
            subprocess.run([program, "--simulator", "--json", *arguments], env=environment, check=True,
                           stdout=subprocess.DEVNULL)

        start = time.perf_counter()
        ctl("-d", "0", "move", "0")
        ctl("-d", "1", "move", "0")
        last_y = 0.0
        for at_y, at_x in serpentine():
            if at_y != last_y:
                ctl("-d", "1", "move", repr(at_y))
                last_y = at_y
            ctl("-d", "0", "move", repr(at_x))
        return time.perf_counter() - start


def scan(program):
    package = scan_package(program)
    processes = scan_processes(program)
    print("50-point serpentine scan over both axes: package %.2f s, one kvx340ctl per move %.2f s, ratio %.1f"
          % (package, processes, processes / package))


def skew(program):
    with kvx340.open(0, simulator=True, ratio=1, program=program) as x, \
            kvx340.open(1, simulator=True, ratio=1, program=program) as y:
        first = {}
        watches = [axis.subscribe(lambda r, name=name: r.busy and first.setdefault(name, r))
                   for name, axis in (("X", x), ("Y", y))]
        sent = time.time()
        moves = [x.move_to(300, wait=False), y.move_to(300, wait=False)]
        concurrent.futures.wait(moves)
        for watch in watches:
            watch.cancel()
        bx, by = first["X"], first["Y"]
    print("skew of two axes started together: X first busy at exchange %d, %.1f ms after the call; "
          "Y at exchange %d, %.1f ms; skew %.1f ms"
          % (bx.exchange, (bx.time - sent) * 1000, by.exchange, (by.time - sent) * 1000, abs(bx.time - by.time) * 1000))


def unread_period(program, seconds):
    serve = subprocess.Popen([program, "--simulator", "-d", "0", "serve"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    serve.stdin.write(b'{"jsonrpc":"2.0","id":1,"method":"subscribe"}\n')
    serve.stdin.flush()
    time.sleep(seconds)  # nothing read meanwhile
    serve.stdin.write(b'{"jsonrpc":"2.0","id":2,"method":"unsubscribe"}\n')
    serve.stdin.close()
    readings = []
    for line in serve.stdout:
        message = json.loads(line)
        if message.get("method") == "reading":
            readings.append(message["params"])
    serve.wait()
    gaps = [(b["time"] - a["time"]) * 1000 for a, b in zip(readings, readings[1:]) if b["exchange"] == a["exchange"] + 1]
    dropped = sum(r.get("dropped", 0) for r in readings)
    span = readings[-1]["time"] - readings[0]["time"]
    count = readings[-1]["exchange"] - readings[0]["exchange"]
    print("period while subscribed, reader never reading for %g s: %d exchanges, %d readings written, %d dropped; "
          "mean period %.2f ms; between readings written in turn: median %.2f ms, largest %.2f ms"
          % (seconds, count, len(readings), dropped, span * 1000 / count, statistics.median(gaps), max(gaps)))


def standing(program, seconds):
    with kvx340.open(0, simulator=True, program=program) as axis:
        pid = axis._session.process.pid
        read = []
        axis.subscribe(read.append)
        ticks = os.sysconf("SC_CLK_TCK")

        def cpu():
            fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / ticks

        time.sleep(1)
        used, start = cpu(), time.monotonic()
        time.sleep(seconds)
        share = (cpu() - used) / (time.monotonic() - start) * 100
        rss = next(line for line in Path("/proc/%d/status" % pid).read_text().splitlines() if line.startswith("VmRSS"))
    print("kvx340ctl serve standing, subscribed and read, over %g s: CPU %.2f %% of a core, %s (%d readings read)"
          % (seconds, share, " ".join(rss.split()[1:]), len(read)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=None, help="the kvx340ctl to measure (found as the package finds it)")
    parser.add_argument("--seconds", type=float, default=10, help="span of the period and standing figures")
    arguments = parser.parse_args()
    os.environ.setdefault("KVX340_SIM_STATE_DIR", "off")
    program = kvx340.find_program(arguments.program)
    commit = subprocess.run(["git", "-C", str(SOURCE), "rev-parse", "--short", "HEAD"], stdout=subprocess.PIPE,
                            text=True).stdout.strip()
    print("kvx340 package figures: %s, commit %s, %d cores" % (program, commit, os.cpu_count()))
    status_round_trip(program)
    scan(program)
    skew(program)
    unread_period(program, arguments.seconds)
    standing(program, arguments.seconds)


if __name__ == "__main__":
    main()
