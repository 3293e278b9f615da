"""One open controller and its axis: motions, readings, settings."""

import atexit
import concurrent.futures
import threading
import time

from . import errors
from .readings import protocol_setting
from .subscriptions import Subscription

__all__ = ["Axis"]

# How long a Ctrl+C waits for the answer to its STOP, and a close for its answer.
STOP_WAIT = 2.0
CLOSE_WAIT = 10.0

# Every session still open, closed at the interpreter's exit.
_open_sessions = set()
_open_lock = threading.Lock()


def _close_all():
    with _open_lock:
        sessions = list(_open_sessions)
    for session in sessions:
        _close_session(session)


atexit.register(_close_all)


def _close_session(session):
    """Close: STOP if moving, the close, the program's end. The answer, or
    ``None`` when the session had already ended."""
    with _open_lock:
        _open_sessions.discard(session)
    with session.close_lock:
        if session.closing:
            return None
        session.closing = True
        answer = None
        try:
            if session.alive:
                future = session.request("close")
                done, _ = concurrent.futures.wait([future], timeout=CLOSE_WAIT)
                if done and future.exception() is None:
                    answer = future.result()
        finally:
            # Whatever came of it, the end of its input makes the program
            # stop the axis and close.
            session.end_input()
            if session.wait_exit(CLOSE_WAIT) is None:
                session.process.kill()
                session.wait_exit(CLOSE_WAIT)
            for subscriber in list(session.subscribers):
                subscriber.cancel()
        return answer


def _register(session):
    with _open_lock:
        _open_sessions.add(session)


class Axis:
    """One controller held open by a ``kvx340ctl serve`` of its own.

    Made by :func:`kvx340.open`. Use it in a ``with`` block, or call
    :meth:`close`; an axis still open when the interpreter exits is closed
    then. However the script ends (an exception, Ctrl+C, ``sys.exit``, even
    SIGKILL), the axis is left stopped and the controller closed.

    Motions (:meth:`move_to`, :meth:`move_by`, :meth:`jog`, :meth:`home`,
    :meth:`stop`, :meth:`zero`) take ``wait``: with ``True`` (the default)
    the call blocks until the motion has ended and returns its
    :class:`Result`, or raises the motion's error; with ``False`` it returns
    at once a :class:`concurrent.futures.Future` of that result, which
    :func:`concurrent.futures.wait` can wait for beside other axes' and
    asyncio code can await through :func:`asyncio.wrap_future`. A new motion
    ends the one under way, which raises :class:`NotReached` with ``ended``
    ``"preempted"`` (``"stopped"`` when the new one is :meth:`stop`).
    Positions are in the operator's units: motor steps divided by the ratio.

    Ctrl+C (KeyboardInterrupt) during any blocking call sends STOP and waits
    for its answer (2 s at most) before the KeyboardInterrupt goes on.

    Every method may be called from any thread. A future's callbacks
    (``add_done_callback``) run on the package's reader thread: keep them short.

    Attributes:
        number: the controller's place in :func:`kvx340.controllers`.
        product: its product string.
        ratio: the gear ratio in force, motor steps per unit.
    """

    def __init__(self, session):
        self._session = session
        opened = session.opened
        self.number = opened.get("number")
        self.product = opened.get("product")
        self.ratio = opened.get("ratio")
        _register(session)

    def __repr__(self):
        state = "open" if self._session.alive else "closed"
        return "<kvx340.Axis %s %r (%s)>" % (self.number, self.product, state)

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    # -- waiting -----------------------------------------------------------

    def _block(self, future):
        """The result of ``future``, waited for so that Ctrl+C stops the axis."""
        try:
            # Short waits in turn: on Windows a wait for a lock without a
            # time-out lets no Ctrl+C through.
            while not concurrent.futures.wait([future], timeout=0.2)[0]:
                pass
            return future.result()
        except KeyboardInterrupt:
            self._stop_after_interrupt()
            raise

    def _stop_after_interrupt(self):
        if not self._session.alive:
            return
        deadline = time.monotonic() + STOP_WAIT
        future = self._session.request("stop")
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            try:
                if concurrent.futures.wait([future], timeout=min(left, 0.2))[0]:
                    return
            except KeyboardInterrupt:
                pass  # the first one goes on once STOP is answered

    def _call(self, method, params=None, wait=True):
        future = self._session.request(method, params)
        return self._block(future) if wait else future

    @staticmethod
    def _params(**values):
        return {name.replace("_", "-"): value for name, value in values.items() if value is not None}

    # -- motions -----------------------------------------------------------

    def move_to(self, position, *, wait=True, timeout=None):
        """Move to ``position`` (operator's units), as GO on the panel.

        Returns a :class:`Result` with ``target`` and ``reached``. Raises
        :class:`NotReached` if the move ends short of its target (STOP, a
        limit switch, a newer motion), :class:`TimedOut` (STOP sent) after
        ``timeout`` seconds, :class:`UsageError` for a position that
        kvx340ctl refuses.
        """
        return self._call("move", self._params(position=position, timeout=timeout), wait)

    def move_by(self, distance, *, wait=True, timeout=None):
        """Move by ``distance`` (operator's units) from where the axis
        stands, as R on the panel. Results and errors as :meth:`move_to`."""
        return self._call("move", self._params(position=distance, relative=True, timeout=timeout), wait)

    def jog(self, speed, seconds=None, *, wait=True):
        """Jog at ``speed``, -10000 to 10000 on the jog slider's scale
        (10000 is the top speed, the sign the direction).

        With ``seconds``: jog that long, then STOP held until the axis
        stands; the result comes then. Without: the jog runs until
        :meth:`stop` or another motion, and the result (``running`` True)
        comes as soon as it is under way.
        """
        return self._call("jog", self._params(speed=speed, seconds=seconds), wait)

    def home(self, side="left", *, speed=None, timeout=None, wait=True):
        """Find a limit switch and set the origin there.

        Jogs toward the ``side`` (``"left"`` or ``"right"``: the switch of
        that lamp) at ``speed`` (1 to 10000, 3000 unless given) until the
        switch is active, STOP, leaves it slowly until it clears, STOP, and
        ZERO there. Returns a :class:`Result` with ``switch`` and ``found``
        (where the switch cleared, before the origin moved there). Raises
        :class:`HomingFailed` when no switch is found within ``timeout``
        seconds (300 unless given) or the opposite switch is met.
        """
        return self._call("home", self._params(side=side, speed=speed, timeout=timeout), wait)

    def stop(self, *, wait=True, timeout=None):
        """STOP, held until the axis stands. The motion under way raises
        :class:`NotReached` with ``ended`` ``"stopped"``."""
        return self._call("stop", self._params(timeout=timeout), wait)

    def zero(self, *, wait=True):
        """ZERO, held for three exchanges: where the axis stands becomes
        position 0 (the panel's "Define Origin")."""
        return self._call("zero", None, wait)

    def wait_idle(self, timeout=None, *, wait=True):
        """Wait until the controller reports idle (the busy lamp off).

        Not a motion: it ends nothing under way. Raises :class:`TimedOut`
        after ``timeout`` seconds, with STOP sent.
        """
        return self._call("wait-idle", self._params(timeout=timeout), wait)

    # -- readings and settings -------------------------------------------

    def status(self):
        """Ask the controller: the :class:`Result` of the next exchange."""
        return self._call("status")

    @property
    def reading(self):
        """The latest :class:`Reading`, without a request: at most one
        exchange (30 ms) old while the axis is open."""
        return self._session.latest

    @property
    def settings(self):
        """The :class:`Settings` in force."""
        return self._session.settings

    def set(self, *, max_speed=None, acceleration=None, amplitude=None, idle_amplitude=None):
        """Change the sliders, as the panel's: they take effect at the next
        exchange. Give at least one: ``max_speed``, ``acceleration``,
        ``amplitude`` (0 to 255) or ``idle_amplitude`` (the percentage of
        the amplitude while idle, 0 to 100). Returns the :class:`Settings` in force."""
        values = {"max_speed": max_speed, "acceleration": acceleration, "amplitude": amplitude,
                  "idle_amplitude": idle_amplitude}
        params = {protocol_setting(name): value for name, value in values.items() if value is not None}
        return self._call("set", params)

    def subscribe(self, callback):
        """Call ``callback(reading)`` with every :class:`Reading` from now on,
        one per exchange, on a thread of its own.

        Returns a :class:`Subscription`: call its ``cancel()`` to end it. A
        callback that falls behind loses the oldest readings (their count is
        in the next reading's ``dropped``); it never holds up the exchange or
        the answers to requests.
        """
        if not callable(callback):
            raise errors.UsageError("subscribe: the callback is not callable: %r" % (callback,))
        return Subscription(self._session, callback)

    def readings(self, seconds=None):
        """Iterate over the live readings, one per exchange, from now on,
        for ``seconds`` seconds (``None``: until the loop is left or the
        axis closed). Ctrl+C in the loop's wait sends STOP, as in every
        blocking call."""
        subscription = Subscription(self._session)
        end = None if seconds is None else time.monotonic() + seconds
        try:
            while subscription.active:
                left = None if end is None else end - time.monotonic()
                if left is not None and left <= 0:
                    return
                try:
                    reading = subscription.next(0.2 if left is None else min(left, 0.2))
                except KeyboardInterrupt:
                    self._stop_after_interrupt()
                    raise
                if reading is not None:
                    yield reading
                elif not self._session.alive:
                    return
        finally:
            subscription.cancel()

    # -- the end -----------------------------------------------------------

    @property
    def closed(self):
        """``True`` once the axis is closed, or its session has ended."""
        return not self._session.alive

    def close(self):
        """STOP if the axis may be moving, then close the controller and end
        its kvx340ctl. Requests still pending get their error first. Returns
        the final :class:`Result` (``None`` if the axis was already closed).
        Calling it again does nothing."""
        return _close_session(self._session)
