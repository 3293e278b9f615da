"""Motions, readings and settings through the package, on the simulator."""

import asyncio
import concurrent.futures
import threading
import time

import pytest

import kvx340
from conftest import ctl, distinct_frames, stop_before_close, wait_for

# Each motion through the package sends the frames of the same command on
# the command line: those frames, told apart as the controller does, are
# one run within the session's.
FRAME_CASES = [
    ("move 300", "", lambda a: a.move_to(300)),
    ("move --relative -200", "", lambda a: a.move_by(-200)),
    ("jog 3000 --for 0.3", "", lambda a: a.jog(3000, 0.3)),
    ("home left", "start-at=-149000", lambda a: a.home("left")),
    ("home right --speed 6000", "start-at=149000", lambda a: a.home("right", speed=6000)),
    ("stop", "", lambda a: a.stop()),
    ("zero", "start-at=40", lambda a: a.zero()),
]


@pytest.mark.parametrize("command,faults,call", FRAME_CASES, ids=[c[0] for c in FRAME_CASES])
def test_frames_are_the_command_lines(program, logs, command, faults, call):
    logs.faults(faults)
    done = ctl(program, "-d", "0", "--ratio", "1", "--json", *command.split())
    assert done.returncode == 0, done.stderr
    expected = distinct_frames(logs.frames())
    assert expected
    logs.restart()
    with kvx340.open(0, simulator=True, ratio=1) as axis:
        result = call(axis)
    sent = distinct_frames(logs.frames())
    runs = [sent[i:i + len(expected)] for i in range(len(sent) - len(expected) + 1)]
    assert expected in runs, "\n".join(["command line:"] + expected + ["package:"] + sent)
    assert result.command == command.split()[0]
    assert not result.busy


def _stopped(axis):
    move = axis.move_to(100000, wait=False)
    wait_for(lambda: axis.reading.busy, "the move under way")
    axis.stop()
    return move.result(30)


def _preempted(axis):
    first = axis.move_to(100000, wait=False)
    wait_for(lambda: axis.reading.busy, "the move under way")
    second = axis.move_to(10, wait=False)
    try:
        first.result(30)
    finally:
        assert second.result(30).reached


# Each failure of a request: the error, its exit status, and what it says.
ERROR_CASES = [
    ("stopped", "", _stopped, kvx340.NotReached, 4, {"ended": "stopped", "target": 100000}),
    ("a new motion", "", _preempted, kvx340.NotReached, 4, {"ended": "preempted", "target": 100000}),
    ("a limit switch", "start-at=-149000", lambda a: a.move_to(-151000), kvx340.NotReached, 4,
     {"ended": "limit", "target": -151000}),
    ("a move's time-out", "", lambda a: a.move_to(100000, timeout=0.3), kvx340.TimedOut, 6, {}),
    ("wait_idle's time-out", "", lambda a: (a.jog(3000), a.wait_idle(0.3)), kvx340.TimedOut, 6, {}),
    ("no switch in time", "", lambda a: a.home("left", timeout=0.3), kvx340.HomingFailed, 7, {}),
    ("1,500", "", lambda a: a.move_to("1,500"), kvx340.UsageError, 1, {}),
    ("a jog too fast", "", lambda a: a.jog(20000), kvx340.UsageError, 1, {}),
    ("no such side", "", lambda a: a.home("up"), kvx340.UsageError, 1, {}),
    ("set nothing", "", lambda a: a.set(), kvx340.UsageError, 1, {}),
    ("a slider past 255", "", lambda a: a.set(amplitude=256), kvx340.UsageError, 1, {}),
    ("not a number", "", lambda a: a.move_to(float("nan")), kvx340.UsageError, 1, {}),
]


@pytest.mark.parametrize("name,faults,call,kind,status,attributes", ERROR_CASES, ids=[c[0] for c in ERROR_CASES])
def test_errors(logs, name, faults, call, kind, status, attributes):
    logs.faults(faults)
    with kvx340.open(0, simulator=True, ratio=1) as axis:
        with pytest.raises(kind) as raised:
            call(axis)
        error = raised.value
        assert error.status == status
        assert str(error)
        for attribute, value in attributes.items():
            assert getattr(error, attribute) == value, attribute
        if kind is not kvx340.UsageError:
            # Ended by a newer motion, it was answered still moving; else standing.
            assert error.reading is not None
            assert error.reading.busy == (getattr(error, "ended", None) in ("stopped", "preempted"))
        else:
            assert isinstance(error, ValueError)
        # The session goes on after every failure.
        assert axis.status().command == "status"
    if name == "a limit switch":
        assert error.reading.left_limit and error.reading.steps == -150000
    if kind in (kvx340.TimedOut, kvx340.HomingFailed):
        calls = logs.calls()
        stops = [i for i, line in enumerate(calls)
                 if line.startswith("SI_Write 0 command ") and int(line.split()[3], 16) & 0x02]
        assert stops and stops[0] < calls.index("SI_Close 0")


def test_two_axes_at_once(logs):
    with kvx340.open("KVX-340 X", simulator=True, ratio=1) as x, kvx340.open(1, simulator=True, ratio=1) as y:
        assert (x.number, x.product, y.number, y.product) == (0, "KVX-340 X", 1, "KVX-340 Y")
        busy = {}
        watches = [a.subscribe(lambda r, a=a: r.busy and busy.setdefault(a.product, r.time)) for a in (x, y)]
        moves = [x.move_to(300, wait=False), y.move_to(-300, wait=False)]
        done, _ = concurrent.futures.wait(moves, timeout=30)
        assert len(done) == 2
        ended = [move.result() for move in moves]
        assert [(result.position, result.reached) for result in ended] == [(300, True), (-300, True)]
        for watch in watches:
            watch.cancel()
        # Under way together: each was busy before the other had ended.
        assert busy["KVX-340 X"] < ended[1].time and busy["KVX-340 Y"] < ended[0].time

        async def both():
            return await asyncio.gather(asyncio.wrap_future(x.move_by(-100, wait=False)),
                                        asyncio.wrap_future(y.move_by(100, wait=False)))

        assert [result.position for result in asyncio.run(both())] == [200, -200]
        assert (x.reading.position, y.reading.position) == (200, -200)
    assert logs.calls().count("SI_Close 0") == 2


def test_calls_from_several_threads(axis):
    move = axis.move_to(600, wait=False)
    seen = []

    def statuses():
        exchanges = [axis.status().exchange for _ in range(10)]
        seen.append(exchanges)

    threads = [threading.Thread(target=statuses) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
    assert [len(exchanges) for exchanges in seen] == [10] * 4
    assert all(exchanges == sorted(exchanges) for exchanges in seen)
    assert move.result(30).position == 600


def test_settings_reach_the_frames(logs):
    with kvx340.open(0, simulator=True, idle_amplitude=30, max_speed=200) as axis:
        assert (axis.settings.idle_amplitude, axis.settings.max_speed, axis.ratio) == (30, 200, 15)
        changed = axis.set(idle_amplitude=40, acceleration=100)
        assert (changed.idle_amplitude, changed.acceleration, changed.max_speed) == (40, 100, 200)
        assert axis.settings == changed
        axis.status()
        axis.status()
    # Bytes 0, 1 and 6: top speed, ramp, idle percentage.
    sliders = [(frame[0:2], frame[2:4], frame[12:14]) for frame in logs.frames()]
    assert sliders[0] == ("c8", "4b", "1e")
    assert sliders[-1] == ("c8", "64", "28")


def test_readings_follow_every_exchange(axis):
    got = []
    subscription = axis.subscribe(got.append)
    axis.move_to(150)
    wait_for(lambda: len(got) >= 5 and not got[-1].busy, "readings after the move")
    subscription.cancel()
    assert not subscription.active
    # Gaps only where readings were dropped, and said so.
    for before, after in zip(got, got[1:]):
        assert after.exchange - before.exchange == 1 + after.dropped
    assert any(reading.busy for reading in got) and got[-1].position == 150
    assert got[0].time <= got[-1].time
    live = list(axis.readings(seconds=0.3))
    assert live and all(reading.exchange > got[-1].exchange for reading in live)
    assert axis.reading.exchange >= live[-1].exchange


def test_a_subscriber_that_never_reads_holds_nothing_up(axis):
    never = threading.Event()
    calls = []
    axis.subscribe(lambda reading: (calls.append(reading), never.wait()))
    first = axis.status().exchange
    time.sleep(2)
    last = axis.status().exchange
    never.set()
    assert len(calls) >= 1
    assert last - first >= 60


def test_controllers(program, logs):
    assert kvx340.controllers(simulator=True) == ["KVX-340 X", "KVX-340 Y"]
    logs.faults("products=A1,B2,C3")
    assert kvx340.controllers(simulator=True, program=program) == ["A1", "B2", "C3"]
    logs.faults("count-fails")
    with pytest.raises(kvx340.LinkError, match="Error finding USB device"):
        kvx340.controllers(simulator=True)
