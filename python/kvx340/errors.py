"""The exceptions the package raises, one per way a request can fail.

Each carries the exit status that ``kvx340ctl`` gives for the same failure
(``.status``) and the last reading the controller gave before it
(``.reading``, ``None`` when there was none), so that a script can tell
where the axis stands after any failure.
"""

from .readings import Reading

__all__ = [
    "Error",
    "UsageError",
    "LinkError",
    "NotFound",
    "InUse",
    "NotReached",
    "TimedOut",
    "HomingFailed",
]


class Error(Exception):
    """Base class of every error of this package.

    ``str(error)`` is kvx340ctl's own text for the failure. ``status`` is
    the command line's exit status for it (``None`` when kvx340ctl has none,
    as when the program itself cannot be found or started). ``reading`` is
    the last :class:`Reading` known when the failure came, or ``None``.
    """

    def __init__(self, message, *, status=None, reading=None):
        super().__init__(message)
        self.message = message
        self.status = status
        self.reading = reading


class UsageError(Error, ValueError):
    """A value or an option that kvx340ctl refuses (exit status 1).

    Nothing was sent to the controller. It is also a :class:`ValueError`.
    """

    def __init__(self, message, *, status=1, reading=None):
        super().__init__(message, status=status, reading=reading)


class LinkError(Error):
    """A failure of the USB link (exit status 2), with the panel's message.

    The session has ended with it: kvx340ctl tried one STOP and closed the
    controller. Every request that was still pending gets this error, and
    so does every later call on the same axis.
    """

    def __init__(self, message, *, status=2, reading=None):
        super().__init__(message, status=status, reading=reading)


class NotFound(Error, LookupError):
    """No such controller, several attached and none chosen, or a name that
    fits several (exit status 3). It is also a :class:`LookupError`."""

    def __init__(self, message, *, status=3, reading=None):
        super().__init__(message, status=status, reading=reading)


class InUse(Error):
    """The controller is held open by another program (exit status 5)."""

    def __init__(self, message, *, status=5, reading=None):
        super().__init__(message, status=status, reading=reading)


class NotReached(Error):
    """A motion ended short of its goal (exit status 4).

    ``ended`` says why: ``"stopped"`` (a :meth:`Axis.stop`), ``"limit"`` (a
    limit switch), or ``"preempted"`` (a newer motion took over). ``target``
    is the move's target in the operator's units, ``None`` for other
    motions.
    """

    def __init__(self, message, *, status=4, reading=None, ended=None, target=None):
        super().__init__(message, status=status, reading=reading)
        self.ended = ended
        self.target = target


class TimedOut(Error, TimeoutError):
    """A time-out given to a motion or a wait expired (exit status 6).

    STOP was sent and held until the axis stood before this was raised. It
    is also a :class:`TimeoutError`.
    """

    def __init__(self, message, *, status=6, reading=None):
        super().__init__(message, status=status, reading=reading)


class HomingFailed(Error):
    """:meth:`Axis.home` found no switch in time, or met the opposite one
    (exit status 7). STOP was sent."""

    def __init__(self, message, *, status=7, reading=None):
        super().__init__(message, status=status, reading=reading)


# The JSON-RPC error codes of kvx340ctl serve: its own are the command
# line's exit statuses; the standard ones are refusals of a message.
_BY_CODE = {2: LinkError, 3: NotFound, 4: NotReached, 5: InUse, 6: TimedOut, 7: HomingFailed}
INVALID_PARAMS = -32602


def from_response(error):
    """The exception for a JSON-RPC ``error`` object of kvx340ctl serve."""
    code = error.get("code")
    message = error.get("message") or "kvx340ctl serve: error %r" % (code,)
    data = error.get("data")
    data = data if isinstance(data, dict) else {}
    reading = Reading.from_json(data) if "position" in data else None
    if code == INVALID_PARAMS:
        return UsageError(message, reading=reading)
    kind = _BY_CODE.get(code)
    if kind is NotReached:
        return NotReached(message, reading=reading, ended=data.get("ended"), target=data.get("target"))
    if kind is not None:
        return kind(message, reading=reading)
    # An invalid request or an unknown method: a fault of this package or
    # of a program that does not match it, never of the caller's values.
    return Error(message, status=code, reading=reading)


# How the command line's exit statuses before the open read as errors.
def from_exit(status, message):
    """The exception for kvx340ctl ending with ``status`` before it opened
    the controller, with its standard error as ``message``."""
    if status == 1:
        return UsageError(message)
    kind = _BY_CODE.get(status)
    if kind is not None and kind is not NotReached:
        return kind(message)
    return Error(message, status=status)
