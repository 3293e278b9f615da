"""The package on the simulator: kvx340ctl from $KVX340CTL (CTest sets it),
the package from the source tree, fresh simulated controllers for every
program, and each test's own call and frame logs."""

import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "python"))

import kvx340  # noqa: E402

os.environ.setdefault("KVX340_SIM_STATE_DIR", "off")


@pytest.fixture(scope="session")
def program():
    try:
        return kvx340.find_program()
    except kvx340.Error as missing:
        pytest.skip(str(missing))


class Logs:
    """The simulator's logs of one test, named in the environment that the
    programs it starts inherit."""

    def __init__(self, folder, monkeypatch):
        self.folder = folder
        self.monkeypatch = monkeypatch
        self.calls_path = folder / "calls"
        self.frames_path = folder / "frames"
        monkeypatch.setenv("KVX340_SIM_CALL_LOG", str(self.calls_path))
        monkeypatch.setenv("KVX340_SIM_FRAME_LOG", str(self.frames_path))
        monkeypatch.delenv("KVX340_SIM_FAULTS", raising=False)

    def faults(self, script):
        self.monkeypatch.setenv("KVX340_SIM_FAULTS", script)

    def calls(self):
        return _lines(self.calls_path)

    def frames(self):
        return _lines(self.frames_path)

    def restart(self):
        for path in (self.calls_path, self.frames_path):
            if path.exists():
                path.unlink()


def _lines(path):
    return path.read_text("latin-1").splitlines() if path.exists() else []


@pytest.fixture
def logs(tmp_path, monkeypatch, program):
    return Logs(tmp_path, monkeypatch)


@pytest.fixture
def axis(logs):
    """Controller 0 at the ratio 1: positions are steps, moves short."""
    with kvx340.open(0, simulator=True, ratio=1) as opened:
        yield opened


def stop_before_close(calls):
    """Whether the last command written before the last close carried STOP."""
    if "SI_Close 0" not in calls:
        return False
    close = len(calls) - 1 - calls[::-1].index("SI_Close 0")
    for line in reversed(calls[:close]):
        if line.startswith("SI_Write 0 command "):
            return int(line.split()[3], 16) & 0x02 != 0
    return False


def distinct_frames(frames):
    """Frames as the controller tells them apart: the toggle bit left out,
    repeats taken once."""
    distinct = []
    for frame in frames:
        frame = frame[:6] + "%02x" % (int(frame[6:8], 16) & 0x7F) + frame[8:]
        if not distinct or distinct[-1] != frame:
            distinct.append(frame)
    return distinct


def wait_for(condition, what, seconds=30):
    """Poll ``condition`` until it holds; the bound only names a hang."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail("timed out waiting for " + what)
        time.sleep(0.02)


def ctl(program, *arguments):
    """kvx340ctl on the simulator, as a script would run it."""
    return subprocess.run([program, "--simulator", *arguments], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=120)
