"""Drive KVX-340 stepper-motor controllers from Python.

Each axis opened is one controller held open by a ``kvx340ctl serve`` of
its own, which runs the panel's 30 ms exchange and sends exactly the
panel's frames. However the script ends (an exception, Ctrl+C, the end of
the interpreter, even SIGKILL), the axis is left stopped and the
controller closed. Pure Python, standard library only.

    import kvx340

    print(kvx340.controllers(simulator=True))       # ['KVX-340 X', 'KVX-340 Y']
    with kvx340.open("KVX-340 X", simulator=True) as x:
        x.move_to(12.5)                              # blocks; raises if not reached
        print(x.status().position, x.reading.time)
        motion = x.move_by(-2, wait=False)           # a concurrent.futures.Future
        for reading in x.readings(seconds=0.3):
            print(reading.exchange, reading.position, reading.busy)
        motion.result()

Functions: :func:`controllers`, :func:`open`, :func:`find_program`.
Classes: :class:`Axis`, :class:`Reading`, :class:`Result`,
:class:`Settings`, :class:`Subscription`. Errors: :class:`Error` and its
subclasses :class:`UsageError`, :class:`LinkError`, :class:`NotFound`,
:class:`InUse`, :class:`NotReached`, :class:`TimedOut`,
:class:`HomingFailed`.

kvx340ctl is found as :func:`find_program` says: ``program=``, then the
environment variable ``KVX340CTL``, then the program installed with this
package, then the ``PATH``. Messages kvx340ctl writes for people while an
axis is open go to the ``logging`` logger ``"kvx340"``.
"""

import json
import subprocess

from .axis import Axis
from .errors import Error, HomingFailed, InUse, LinkError, NotFound, NotReached, TimedOut, UsageError
from .errors import from_exit as _from_exit
from .program import find_program
from .program import options as _options
from .readings import Reading, Result, Settings
from .session import Session as _Session
from .subscriptions import Subscription

__all__ = [
    "controllers", "open", "find_program", "Axis", "Reading", "Result", "Settings", "Subscription",
    "Error", "UsageError", "LinkError", "NotFound", "InUse", "NotReached", "TimedOut", "HomingFailed",
]
__version__ = "1.0"

_open = open  # the built-in, which this module's open() hides


def controllers(simulator=False, *, program=None):
    """The product strings of the attached controllers, in their order:
    the place of each is its number for :func:`open`'s ``device``.

    With ``simulator=True``, the simulated controllers (as ``kvx340-sim``).
    Raises :class:`LinkError` when the controllers cannot be counted.
    """
    arguments = [find_program(program)] + (["--simulator"] if simulator else []) + ["--json", "list"]
    done = subprocess.run(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        text = done.stderr.decode("utf-8", "replace").strip()
        raise _from_exit(done.returncode, text or "kvx340ctl list: exit status %d" % done.returncode)
    listed = json.loads(done.stdout.decode("utf-8"))
    return [entry["product"] for entry in sorted(listed["controllers"], key=lambda entry: entry["number"])]


def open(device=None, *, simulator=False, ratio=15, reverse_motor=False, reverse_limit=False,
         limit_active_high=False, max_speed=None, acceleration=None, amplitude=None,
         idle_amplitude=None, settings=None, program=None):
    """Open one controller and return its :class:`Axis`.

    ``device`` chooses it as kvx340ctl's ``-d`` does: a number (its place
    in :func:`controllers`), or a product string; ``None`` when only one is
    attached. ``simulator=True`` opens a simulated controller.

    ``ratio`` (motor steps per unit, at least 0.01), the three drive options
    (``reverse_motor``, ``reverse_limit``, ``limit_active_high``) and the
    sliders ``max_speed``, ``acceleration``, ``amplitude`` (0 to 255, design
    values 180, 75, 160) and ``idle_amplitude`` (the percentage of the
    amplitude while idle, 0 to 100; 50) are those of the selection dialog
    and the panel. ``settings`` names a settings file (``key=value`` lines,
    as kvx340ctl's ``--settings``); a keyword left at its default leaves
    the file's value in force. ``program`` is the kvx340ctl to run.

    Raises :class:`NotFound` (no such controller, or several and no
    ``device``), :class:`InUse` (held by another program),
    :class:`LinkError` (the open failed, or the library is missing),
    :class:`UsageError` (a value kvx340ctl refuses), each with kvx340ctl's
    message.
    """
    arguments = _options(device, simulator=simulator, ratio=ratio, reverse_motor=reverse_motor,
                         reverse_limit=reverse_limit, limit_active_high=limit_active_high,
                         max_speed=max_speed, acceleration=acceleration, amplitude=amplitude,
                         idle_amplitude=idle_amplitude, settings=settings)
    session = _Session([find_program(program)] + arguments + ["serve"])
    session.start()
    axis = Axis(session)
    # Readings from the first exchange on, so that Axis.reading is always
    # one exchange old at most.
    try:
        axis._block(session.request("subscribe"))
        axis.status()
    except BaseException:
        axis.close()
        raise
    return axis
