"""Where kvx340ctl is, and the command line that opens a controller."""

import math
import numbers
import os
import shutil
import sys
from pathlib import Path

from .errors import Error, UsageError

__all__ = ["find_program", "options"]

PROGRAM = "kvx340ctl.exe" if os.name == "nt" else "kvx340ctl"
ENVIRONMENT = "KVX340CTL"
_PACKAGE = Path(__file__).resolve().parent

# Where the program lies relative to this package in each installed layout,
# in the order they are tried.
_BESIDE = [
    # Debian: /usr/lib/python3/dist-packages/kvx340 beside /usr/bin.
    ("..", "..", "..", "..", "bin", PROGRAM),
    # The Windows folder: the programs, and python/kvx340 among them.
    ("..", "..", PROGRAM),
    # The source tree: python/kvx340 beside the build's app/.
    ("..", "..", "build", "app", PROGRAM),
]


def _registered_folders():
    """The folders where the Windows installer put the programs."""
    if os.name != "nt":
        return []
    import winreg

    folders = []
    for root in (winreg.HKEY_LOCAL_MACHINE, winreg.HKEY_CURRENT_USER):
        try:
            with winreg.OpenKey(root, r"Software\The KVX-340 developers\KVX-340", 0,
                                winreg.KEY_READ | winreg.KEY_WOW64_64KEY) as key:
                folders.append(winreg.QueryValue(key, None))
        except OSError:
            pass
    return folders


def find_program(program=None, *, environ=None, package=None, path=None):
    """The path of kvx340ctl this package runs.

    Tried in this order: ``program`` if given; the environment variable
    ``KVX340CTL``; the program installed with this package (Debian's
    ``/usr/bin/kvx340ctl``, the Windows folder that holds ``python/kvx340``,
    or the source tree's ``build/app/kvx340ctl``); the folder the Windows
    installer put it in; then the ``PATH``. Raises :class:`Error` when none
    is found. (``environ``, ``package`` and ``path`` stand in for
    ``os.environ``, this package's folder and the ``PATH`` in checks.)
    """
    environ = os.environ if environ is None else environ
    if program is not None:
        return os.fspath(program)
    if environ.get(ENVIRONMENT):
        return environ[ENVIRONMENT]
    package = _PACKAGE if package is None else Path(package)
    for parts in _BESIDE:
        candidate = package.joinpath(*parts).resolve()
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    for folder in _registered_folders():
        candidate = Path(folder, PROGRAM)
        if candidate.is_file():
            return str(candidate)
    found = shutil.which(PROGRAM, path=path if path is not None else environ.get("PATH"))
    if found:
        return found
    raise Error("%s not found: give program=, set %s, or put it on the PATH" % (PROGRAM, ENVIRONMENT))


def _number(name, value):
    """A number as the command line takes it: whole text, C locale."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise UsageError("%s must be a number, not %r" % (name, value))
    if isinstance(value, numbers.Integral):
        return str(int(value))
    value = float(value)
    if not math.isfinite(value):
        raise UsageError("%s must be a finite number, not %r" % (name, value))
    return repr(value)


def options(device=None, *, simulator=False, ratio=15, reverse_motor=False, reverse_limit=False,
            limit_active_high=False, max_speed=None, acceleration=None, amplitude=None,
            idle_amplitude=None, settings=None):
    """The command-line options that choose and set up a controller, as
    :func:`kvx340.open` takes them. Values left at their defaults give no
    option, so that a settings file's values count for them."""
    arguments = []
    if simulator:
        arguments.append("--simulator")
    if device is not None:
        if isinstance(device, bool):
            raise UsageError("device must be a number or a product string, not %r" % (device,))
        if isinstance(device, numbers.Integral):
            # '#N' is always the number, even beside a product string "N".
            arguments += ["-d", "#%d" % int(device)]
        elif isinstance(device, str):
            arguments += ["-d", device]
        else:
            raise UsageError("device must be a number or a product string, not %r" % (device,))
    if settings is not None:
        arguments += ["--settings", os.fspath(settings)]
    if not (isinstance(ratio, numbers.Real) and not isinstance(ratio, bool) and ratio == 15):
        arguments += ["--ratio", _number("ratio", ratio)]
    for flag, value in (("--reverse-motor", reverse_motor), ("--reverse-limit", reverse_limit),
                        ("--limit-active-high", limit_active_high)):
        if value:
            arguments.append(flag)
    for flag, value in (("--max-speed", max_speed), ("--acceleration", acceleration),
                        ("--amplitude", amplitude), ("--idle-percent", idle_amplitude)):
        if value is not None:
            arguments += [flag, _number(flag[2:], value)]
    return arguments


def session_flags():
    """The keyword arguments of :class:`subprocess.Popen` that keep a
    terminal's Ctrl+C away from the child: it reaches kvx340ctl through
    this package only, which sends STOP."""
    if sys.platform == "win32":
        import subprocess

        return {"creationflags": subprocess.CREATE_NEW_PROCESS_GROUP}
    return {"start_new_session": True}
