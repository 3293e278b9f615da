"""However a script ends, the axis is left stopped and the controller closed;
a failing link fails every call; a failed open says why."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

import kvx340
from conftest import SOURCE, stop_before_close, wait_for

OPEN = "import kvx340, sys\naxis = kvx340.open(0, simulator=True, ratio=1)\nprint(axis._session.process.pid, flush=True)\n"
BLOCKING_MOVE = """
try:
    axis.move_to(100000)
except KeyboardInterrupt:
    print("interrupted; busy:", axis.reading.busy, flush=True)
    raise
"""
UNDER_WAY = """
axis.move_to(100000, wait=False)
while not axis.reading.busy:
    pass
"""

# The script's end after the open; what is done to it once its move is under
# way (None: nothing); how it ends; what it prints after the serve's number.
WAYS_OUT = [
    ("the script's end with a jog running", "axis.jog(3000)\n", None, 0, ""),
    ("sys.exit with a move running", UNDER_WAY + "sys.exit(3)\n", None, 3, ""),
    ("an exception with a move running", UNDER_WAY + "raise RuntimeError('scan failed')\n", None, 1, ""),
    ("SIGINT to Python alone", BLOCKING_MOVE, lambda p: os.kill(p.pid, signal.SIGINT), -signal.SIGINT,
     "interrupted; busy: False"),
    ("SIGINT to the whole group", BLOCKING_MOVE, lambda p: os.killpg(p.pid, signal.SIGINT), -signal.SIGINT,
     "interrupted; busy: False"),
    ("SIGKILL mid-move", "axis.move_to(100000)\n", lambda p: p.kill(), -signal.SIGKILL, ""),
]


def _gone(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except FileNotFoundError:
        return True


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize("name,tail,action,status,printed", WAYS_OUT, ids=[c[0] for c in WAYS_OUT])
def test_every_way_out_stops_then_closes(logs, name, tail, action, status, printed):
    environment = dict(os.environ, PYTHONPATH=str(SOURCE / "python"))
    script = subprocess.Popen([sys.executable, "-c", OPEN + textwrap.dedent(tail)], env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        serve = int(script.stdout.readline())
        if action is not None:
            # Under way: GO let go, the click's position mode (0x28) sent.
            wait_for(lambda: "SI_Write 0 command 28" in logs.calls(), "the move under way")
            action(script)
        out, err = script.communicate(timeout=60)
    finally:
        script.kill()
    assert script.returncode == status, err
    assert out.strip() == printed
    wait_for(lambda: _gone(serve), "kvx340ctl serve to end", seconds=20)
    calls = logs.calls()
    assert stop_before_close(calls), "\n".join(calls)
    assert (calls.count("SI_Open 0"), calls.count("SI_Close 0")) == (1, 1)
    # The STOP came after the motion had set off (GO or jog), not only before it.
    commands = [int(line.split()[3], 16) for line in calls if line.startswith("SI_Write 0 command ")]
    set_off = next(i for i, command in enumerate(commands) if command & 0x11)
    assert any(command & 0x02 for command in commands[set_off:])


def test_a_failed_read_fails_every_pending_call(logs):
    logs.faults("fail-read@60")
    axis = kvx340.open(0, simulator=True, ratio=1)
    try:
        pending = [axis.move_to(100000, wait=False), axis.wait_idle(wait=False)]
        failures = []
        for future in pending:
            with pytest.raises(kvx340.LinkError) as raised:
                future.result(60)
            failures.append(raised.value)
        with pytest.raises(kvx340.LinkError) as later:
            axis.status()
        failures.append(later.value)
        assert [(error.status, str(error).split(".")[0]) for error in failures] == \
            [(2, "Error writing to USB")] * 3
        assert "Read  0 of  12 bytes" in str(failures[0])
        assert axis.closed
        assert axis._session.wait_exit(30) == 2
    finally:
        axis.close()
    assert stop_before_close(logs.calls())


OPEN_FAILURES = [
    ("no such number", {"device": 5}, "", kvx340.NotFound, 3, "no controller number"),
    ("several and none chosen", {}, "", kvx340.NotFound, 3, "several controllers attached"),
    ("no such product", {"device": "KVX-340 Z"}, "", kvx340.NotFound, 3, 'no controller "KVX-340 Z"'),
    ("the open fails", {"device": 0}, "open-fails", kvx340.LinkError, 2, "Error opening device: KVX-340 X"),
    ("a slider out of range", {"device": 0, "max_speed": 300}, "", kvx340.UsageError, 1, "max"),
    ("a ratio too small", {"device": 0, "ratio": 0.001}, "", kvx340.UsageError, 1, "ratio"),
    ("a missing settings file", {"device": 0, "settings": "/nonexistent/lab.conf"}, "", kvx340.UsageError, 1,
     "lab.conf"),
    ("no program there", {"device": 0, "program": "/nonexistent/kvx340ctl"}, "", kvx340.Error, None,
     "/nonexistent/kvx340ctl"),
]


@pytest.mark.parametrize("name,keywords,faults,kind,status,text", OPEN_FAILURES, ids=[c[0] for c in OPEN_FAILURES])
def test_a_failed_open_says_why(logs, name, keywords, faults, kind, status, text):
    logs.faults(faults)
    with pytest.raises(kind) as raised:
        kvx340.open(simulator=True, **keywords)
    assert raised.value.status == status
    assert text in str(raised.value)
    assert "SI_Write" not in " ".join(logs.calls())


def test_a_controller_held_open_is_in_use(logs, tmp_path, monkeypatch):
    monkeypatch.setenv("KVX340_SIM_STATE_DIR", str(tmp_path))
    with kvx340.open(0, simulator=True) as holder:
        with pytest.raises(kvx340.InUse, match="in use by another program") as raised:
            kvx340.open(0, simulator=True)
        assert raised.value.status == 5
        assert holder.status().command == "status"
        with kvx340.open(1, simulator=True) as other:
            assert other.product == "KVX-340 Y"
    with kvx340.open(0, simulator=True) as again:
        assert again.product == "KVX-340 X"


def test_closing_twice_and_calls_after_the_close(axis):
    final = axis.close()
    assert final.command == "close" and not final.busy
    assert axis.close() is None
    with pytest.raises(kvx340.Error, match="closed"):
        axis.status()
    assert axis._session.process.returncode == 0
