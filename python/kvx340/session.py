"""One ``kvx340ctl serve`` process and the pipes to it.

Requests are written by whichever thread calls, one line at a time under
one lock. One reader thread reads every line the program writes: it hands
each response to the future of its request (by id), and each reading to
the subscriptions. A second thread keeps the program's standard error,
for the message of a failed open and for people (the ``kvx340`` logger).
"""

import concurrent.futures
import io
import itertools
import json
import logging
import math
import numbers
import os
import subprocess
import threading

from . import errors
from .program import session_flags
from .readings import Reading, Result, Settings

__all__ = ["Session"]

log = logging.getLogger("kvx340")


def _json_default(value):
    # numpy's numbers and the like: whatever says it is an integer or a number.
    if isinstance(value, numbers.Integral) or hasattr(value, "__index__"):
        return int(value)
    if isinstance(value, numbers.Real) or hasattr(value, "__float__"):
        number = float(value)
        if not math.isfinite(number):
            raise ValueError("not a finite number: %r" % (value,))
        return number
    raise TypeError("not a number or a text: %r" % (value,))


def encode(method, params, request_id):
    """The line of one JSON-RPC request; UsageError for what JSON cannot carry."""
    message = {"jsonrpc": "2.0", "method": method, "id": request_id}
    if params:
        message["params"] = params
    try:
        text = json.dumps(message, separators=(",", ":"), allow_nan=False, default=_json_default)
    except (TypeError, ValueError) as refusal:
        raise errors.UsageError("%s: %s" % (method, refusal)) from None
    return (text + "\n").encode("utf-8")


class Session:
    """A running ``kvx340ctl serve`` with its controller open.

    Start it with :meth:`start`; it returns once the program has said
    ``opened``, or raises the error of the failed open.
    """

    def __init__(self, arguments):
        self.arguments = arguments
        self._ids = itertools.count(1)
        self._pending = {}
        self._lock = threading.Lock()  # the pending table and the failure
        self._write_lock = threading.Lock()
        self._failure = None  # the error every later request gets
        self._link_message = None
        self._opened = threading.Event()
        self._ended = threading.Event()
        self._stderr_lines = []
        self._stderr_done = threading.Event()
        self.opened = None
        self.latest = None  # the newest Reading
        self.settings = None
        self.subscribers = set()
        self.process = None
        self.closing = False  # set once by the close, under close_lock
        self.close_lock = threading.Lock()

    # -- starting and ending --------------------------------------------

    def start(self):
        """Start the program and wait for ``opened`` or for its end."""
        try:
            self.process = subprocess.Popen(
                self.arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                bufsize=0, **session_flags())
        except OSError as failure:
            raise errors.Error("cannot start %s: %s" % (self.arguments[0], failure)) from None
        if hasattr(os, "register_at_fork"):
            # A forked child must not hold the program's input open: its end
            # is what stops the axis when this process is killed.
            stdin = self.process.stdin
            os.register_at_fork(after_in_child=lambda: _close_quietly(stdin))
        threading.Thread(target=self._read_stderr, name="kvx340 stderr", daemon=True).start()
        threading.Thread(target=self._read, name="kvx340 reader", daemon=True).start()
        try:
            while not self._opened.wait(0.1) and not self._ended.is_set():
                pass
        except KeyboardInterrupt:
            self.end_input()
            self.wait_exit(10)
            raise
        if not self._opened.is_set():
            status = self.wait_exit(10)
            self._stderr_done.wait(5)
            text = "".join(self._stderr_lines).strip() or "kvx340ctl serve ended (%s)" % _describe(status)
            raise errors.from_exit(status, text)

    def end_input(self):
        """Close the program's standard input: it stops the axis and closes."""
        with self._write_lock:
            _close_quietly(self.process.stdin)

    def wait_exit(self, seconds):
        """Wait up to ``seconds`` for the program to end; its exit status, or
        ``None`` if it still runs."""
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    @property
    def alive(self):
        """The program runs and has not failed."""
        return self._failure is None and not self._ended.is_set()

    @property
    def failure(self):
        """The error that ended the session, or ``None``."""
        return self._failure

    # -- requests --------------------------------------------------------

    def request(self, method, params=None):
        """Send one request; a :class:`concurrent.futures.Future` of its
        :class:`Result` (or its error)."""
        future = concurrent.futures.Future()
        future.set_running_or_notify_cancel()  # a motion under way is ended by stop(), not cancel()
        request_id = next(self._ids)
        line = encode(method, params, request_id)
        with self._lock:
            if self._failure is not None:
                future.set_exception(self._failure)
                return future
            self._pending[request_id] = (method, future)
        try:
            with self._write_lock:
                self.process.stdin.write(line)
        except (OSError, ValueError):
            # The program is gone: the reader gives every request its error.
            self._ended.wait(10)
            self._fail(errors.LinkError("kvx340ctl serve is no longer running"))
        return future

    def _fail(self, failure):
        """End the session: every pending request, and every later one, gets
        ``failure``."""
        with self._lock:
            if self._failure is None:
                self._failure = failure
            pending, self._pending = self._pending, {}
        for _, future in pending.values():
            future.set_exception(self._failure)

    # -- the reader ------------------------------------------------------

    def _read(self):
        try:
            for line in _buffered(self.process.stdout):
                try:
                    message = json.loads(line)
                except ValueError:
                    log.warning("kvx340ctl serve wrote what is not JSON: %r", line[:200])
                    continue
                if isinstance(message, dict):
                    self._dispatch(message)
        finally:
            self._end()

    def _end(self):
        status = self.wait_exit(10)
        self._stderr_done.wait(2)
        if self.closing and status == 0:
            failure = errors.Error("the axis is closed", reading=self.latest)
        elif self._link_message is not None:
            failure = errors.LinkError(self._link_message, reading=self.latest)
        else:
            tail = "".join(self._stderr_lines[-5:]).strip()
            failure = errors.LinkError("kvx340ctl serve ended (%s)%s" % (_describe(status), ": " + tail if tail else ""),
                                       reading=self.latest)
            if status is not None and not self._opened.is_set():
                failure = errors.from_exit(status, tail or failure.message)
        self._fail(failure)
        self._ended.set()
        for subscriber in list(self.subscribers):
            subscriber.end()

    def _dispatch(self, message):
        if "id" in message and "method" not in message:
            self._answer(message)
            return
        method, params = message.get("method"), message.get("params")
        if not isinstance(params, dict):
            return
        if method == "reading":
            reading = Reading.from_json(params)
            self._note(reading)
            for subscriber in list(self.subscribers):
                subscriber.deliver(reading)
        elif method == "opened":
            self.opened = params
            self.settings = Settings.from_json(params.get("settings", {}))
            self._opened.set()
            for line in self._stderr_lines:  # what it said while opening, for people too
                log.warning("%s", line.rstrip())

    def _answer(self, message):
        with self._lock:
            method, future = self._pending.pop(message.get("id"), (None, None))
        error = message.get("error")
        if isinstance(error, dict):
            if error.get("code") == 2:
                self._link_message = error.get("message")
            failure = errors.from_response(error)
            if failure.reading is not None:
                self._note(failure.reading)
            if future is None:
                log.warning("kvx340ctl serve refused a message: %s", failure)
            else:
                future.set_exception(failure)
            return
        result = message.get("result")
        if future is None or not isinstance(result, dict):
            return
        if "settings" in result:
            self.settings = Settings.from_json(result["settings"])
            future.set_result(self.settings)
        elif "position" in result:
            answer = Result.from_json(result)
            self._note(answer.reading())
            future.set_result(answer)
        else:
            future.set_result(result)

    def _note(self, reading):
        latest = self.latest
        if latest is None or reading.exchange >= latest.exchange:
            self.latest = reading

    def _read_stderr(self):
        try:
            for raw in _buffered(self.process.stderr):
                line = raw.decode("utf-8", "replace")
                if self._opened.is_set():
                    log.warning("%s", line.rstrip())
                self._stderr_lines.append(line)
                del self._stderr_lines[:-50]
        finally:
            self._stderr_done.set()


def _buffered(pipe):
    # The pipes are unbuffered, so that each request goes out whole at once;
    # lines are read through a buffer rather than a byte at a time.
    return io.BufferedReader(pipe)


def _close_quietly(stream):
    try:
        stream.close()
    except (OSError, ValueError):
        pass


def _describe(status):
    if status is None:
        return "still running"
    if status < 0:
        return "ended by signal %d" % -status
    return "exit status %d" % status
