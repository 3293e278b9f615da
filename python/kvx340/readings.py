"""What the controller reports: readings, results of requests, settings."""

import dataclasses
from dataclasses import dataclass
from typing import Optional

__all__ = ["Reading", "Result", "Settings"]

# The protocol's names beside the package's.
_READING_FIELDS = {
    "position": "position",
    "steps": "steps",
    "busy": "busy",
    "leftLimit": "left_limit",
    "rightLimit": "right_limit",
    "maxSpeed": "max_speed",
    "reverseLimitSwitch": "reverse_limit",
    "limitSwitchActiveHigh": "limit_active_high",
    "time": "time",
    "exchange": "exchange",
}
_RESULT_FIELDS = {"command": "command", "target": "target", "reached": "reached", "found": "found",
                  "switch": "switch", "running": "running"}


@dataclass(frozen=True)
class Reading:
    """One status frame of the controller, as the panel shows it.

    Attributes:
        position: where the motor stands, in the operator's units (steps
            divided by the ratio), rounded to 2 decimals as the panel shows it.
        steps: the same in motor steps.
        busy: a move or a jog is under way (the busy lamp).
        left_limit, right_limit: the limit switch lamps.
        max_speed: the axis cruises at its top speed ("Max Speed" lamp).
        reverse_limit: "Reverse Limit Switch" is chosen ("Reverse" lamp).
        limit_active_high: "Limit Switch Active on HI" is chosen ("Act Hi").
        time: the host's wall clock when this exchange's status frame was
            read, in seconds since the epoch (as :func:`time.time`), to the
            microsecond: match it to other instruments' timestamps.
        exchange: the number of this exchange since the open (the first is
            1); a gap in the numbers is a gap between readings.
        dropped: how many readings were dropped just before this one because
            their reader lagged behind (0 when none).
    """

    position: float
    steps: int
    busy: bool
    left_limit: bool
    right_limit: bool
    max_speed: bool
    reverse_limit: bool
    limit_active_high: bool
    time: float
    exchange: int
    dropped: int = 0

    @classmethod
    def _values(cls, message):
        values = {name: message.get(key) for key, name in _READING_FIELDS.items()}
        values["dropped"] = int(message.get("dropped", 0))
        return values

    @classmethod
    def from_json(cls, message):
        """The reading held in a decoded protocol message (a ``dict``)."""
        return Reading(**cls._values(message))


@dataclass(frozen=True)
class Result(Reading):
    """The answer to a request: the reading of the exchange that ended it,
    with what the command line prints for that command.

    Attributes (beside those of :class:`Reading`):
        command: the request it answers: ``"move"``, ``"jog"``, ``"home"``,
            ``"stop"``, ``"zero"``, ``"status"``, ``"wait-idle"``, ``"close"``.
        target: for a move, its target in the operator's units.
        reached: for a move, ``True`` (a move that falls short raises
            :class:`NotReached` instead).
        found: for :meth:`Axis.home`, where the switch cleared, in the
            operator's units, before the origin was set there.
        switch: for :meth:`Axis.home`, the switch found, ``"left"`` or ``"right"``.
        running: for a jog without ``seconds``, ``True``: the jog is under
            way and runs until :meth:`Axis.stop` or another motion.
    """

    command: Optional[str] = None
    target: Optional[float] = None
    reached: Optional[bool] = None
    found: Optional[float] = None
    switch: Optional[str] = None
    running: Optional[bool] = None

    @classmethod
    def from_json(cls, message):
        """The result held in a decoded protocol result (a ``dict``)."""
        values = cls._values(message)
        values.update({name: message.get(key) for key, name in _RESULT_FIELDS.items()})
        if message.get("closed"):
            values["command"] = "close"
        return Result(**values)

    def reading(self):
        """The plain :class:`Reading` of this result."""
        names = [f.name for f in dataclasses.fields(Reading)]
        return Reading(**{name: getattr(self, name) for name in names})


_SETTINGS_FIELDS = {
    "ratio": "ratio",
    "reverse-motor": "reverse_motor",
    "reverse-limit": "reverse_limit",
    "limit-active-high": "limit_active_high",
    "max-speed": "max_speed",
    "acceleration": "acceleration",
    "amplitude": "amplitude",
    "idle-percent": "idle_amplitude",
}


@dataclass(frozen=True)
class Settings:
    """The settings in force on an open controller.

    Attributes:
        ratio: the gear ratio, motor steps per unit.
        reverse_motor, reverse_limit, limit_active_high: the three drive
            options ("Reverse Motor Direction", "Reverse Limit Switch",
            "Limit Switch Active on HI").
        max_speed, acceleration, amplitude: the panel's sliders, 0 to 255.
        idle_amplitude: the percentage of the amplitude used while the
            drive is idle, 0 to 100 (the protocol's ``idle-percent``).
    """

    ratio: float
    reverse_motor: bool
    reverse_limit: bool
    limit_active_high: bool
    max_speed: int
    acceleration: int
    amplitude: int
    idle_amplitude: int

    @classmethod
    def from_json(cls, settings):
        """The settings held in a protocol ``settings`` object (a ``dict``)."""
        return Settings(**{name: settings.get(key) for key, name in _SETTINGS_FIELDS.items()})


def protocol_setting(name):
    """The protocol's name of a slider given by its keyword (``max_speed``)."""
    for key, value in _SETTINGS_FIELDS.items():
        if value == name:
            return key
    raise KeyError(name)
