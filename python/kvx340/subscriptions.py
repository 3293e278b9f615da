"""Live readings handed to a subscriber without ever holding up the reader.

Each subscription keeps its own queue, bounded: a subscriber that falls
behind loses the oldest readings, and the next reading it gets says how
many in its ``dropped``. Responses to requests never wait for it.
"""

import collections
import dataclasses
import logging
import threading

__all__ = ["Subscription"]

log = logging.getLogger("kvx340")

# About half a minute of readings at one every 30 ms.
QUEUE_LENGTH = 1000


class Subscription:
    """A subscription to the live readings of one axis.

    Returned by :meth:`Axis.subscribe`. The callback runs on a thread of its
    own, one reading at a time, in order. :meth:`cancel` ends it; so does
    leaving a ``with`` block on it, and closing the axis.
    """

    def __init__(self, session, callback=None, *, length=QUEUE_LENGTH):
        self._session = session
        self._callback = callback
        self._queue = collections.deque()
        self._length = length
        self._dropped = 0
        self._ended = False
        self._ready = threading.Condition()
        self._thread = None
        if callback is not None:
            self._thread = threading.Thread(target=self._run, name="kvx340 subscriber", daemon=True)
            self._thread.start()
        session.subscribers.add(self)

    @property
    def active(self):
        """``True`` until the subscription is cancelled or its axis closed."""
        return not self._ended

    def cancel(self):
        """End the subscription: no reading is handed on after this returns
        (one already being handed to the callback finishes)."""
        self._session.subscribers.discard(self)
        self.end()

    def end(self):
        """Take no more readings; what waits is dropped."""
        with self._ready:
            self._ended = True
            self._queue.clear()
            self._ready.notify_all()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.cancel()

    def deliver(self, reading):
        """Queue one reading (called by the reader thread; never blocks)."""
        with self._ready:
            if self._ended:
                return
            if len(self._queue) >= self._length:
                self._queue.popleft()
                self._dropped += 1
            self._queue.append(reading)
            self._ready.notify()

    def next(self, timeout=None):
        """The next reading, waiting for it up to ``timeout`` seconds
        (``None``: as long as it takes); ``None`` when the time is up or the
        subscription has ended."""
        with self._ready:
            if not self._ready.wait_for(lambda: self._queue or self._ended, timeout):
                return None
            if not self._queue:
                return None
            reading = self._queue.popleft()
            if self._dropped:
                # Dropped here, beside any the program dropped before.
                reading = dataclasses.replace(reading, dropped=reading.dropped + self._dropped)
                self._dropped = 0
            return reading

    def _run(self):
        while True:
            reading = self.next()
            if reading is None:
                return
            try:
                self._callback(reading)
            except Exception:  # one bad reading must not end the subscription
                log.exception("kvx340: a subscriber's callback failed")
