"""The attenuator for people: units, a context manager, and exceptions instead of status codes."""

from __future__ import annotations

import math
import operator
from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, List, NamedTuple, Optional, Tuple, TypeVar, Union

from . import _optivane
from ._optivane import AttenuatorStatus, Optivane, StatusText

if TYPE_CHECKING:
    from ._power import Hold, PowerResult

_T = TypeVar("_T")


class Error(Exception):
    """Base of every error of this package."""


class ConnectionFailed(Error):
    """The port could not be opened, or no device answered on it.

    ``reason`` is one of ``"no-such-port"``, ``"permission-denied"`` (the message names the group
    to join), ``"in-use"`` (another program holds the port) or ``"no-answer"``.
    """

    def __init__(self, message: str, reason: str) -> None:
        super().__init__(message)
        self.reason = reason


class DeviceError(Error):
    """An operation failed; ``status`` is the AttenuatorStatus (or the plain int of a status without a
    name) and ``text`` its text, as the program's status line shows it."""

    def __init__(
        self, port: str, operation: str, status: Union[AttenuatorStatus, int], detail: str = ""
    ) -> None:
        self.status = status
        self.text = StatusText(int(status))
        message = f"{port}: {operation}: {self.text} ({int(status)})"
        super().__init__(f"{message}: {detail}" if detail else message)


class OutOfRange(Error, ValueError):
    """A transmittance outside the port's permitted range, refused without ``clamp``; nothing moved."""


class Status(NamedTuple):
    """The device status and its text."""

    status: Union[AttenuatorStatus, int]
    text: str


@dataclass(frozen=True)
class Info:
    """Identity and step scale of the device."""

    serial_number: str
    year_of_manufacture: str
    td: int
    """degrees spanned by the step scale"""
    ppd: int
    """steps in that span"""
    fr: str
    hr: str
    mechanical_offset: float
    """degrees"""


def ports() -> List[str]:
    """The COM names (``"COM5"``) that lead to a serial device now."""
    return list(_optivane.ports())


class Attenuator:
    """One attenuator, opened on construction and closed by ``close()`` or the ``with`` block.

    ``offset`` (degrees of zero transmittance) and ``span`` (degrees from zero to full transmittance)
    default to the port's luxora settings, else 0 and 45; the permitted transmittance range comes from
    the same file, else 0 to 1. ``timeout`` is the time limit in seconds for each reply. A
    transmittance outside the range raises OutOfRange, or with ``clamp=True`` moves to the nearest end.

    Every property read asks the device; every assignment moves it and returns once it has answered.
    One Attenuator may be used from several threads; their calls take turns on the line, and other
    Python threads run while the device answers.
    """

    def __init__(
        self,
        port: str,
        *,
        offset: Optional[float] = None,
        span: Optional[float] = None,
        timeout: float = 3.5,
        clamp: bool = False,
    ) -> None:
        if not (timeout > 0 and math.isfinite(timeout)):
            raise ValueError(f"timeout must be a positive number of seconds, got {timeout!r}")
        self.port = port
        self.clamp = clamp
        self._timeout_ms = max(1, int(round(timeout * 1000)))
        self._profile = _optivane.load_port_profile(port)
        if offset is not None:
            self._profile.offset_deg = float(offset)
        if span is not None:
            self._profile.span_deg = float(span)
        self.wavelength: Optional[float] = None
        """nm: which calibration the measured curve and the power loop use (None: the record's only one)"""
        self._serial: Optional[str] = None
        self._holds: List["Hold"] = []
        self._handle = Optivane()
        try:
            connected = self._handle.Connect(port)
        except (RuntimeError, ValueError, IndexError) as error:
            # A port that refuses its serial settings, or a reply without a readable scale.
            raise ConnectionFailed(f"{port}: {error}", "no-answer") from error
        if not connected:
            reason, message = _optivane.diagnose_connect_failure(port)
            raise ConnectionFailed(message, reason)

    # The curve and range in use.
    @property
    def offset(self) -> float:
        """Angle of zero transmittance, degrees."""
        return self._profile.offset_deg

    @property
    def span(self) -> float:
        """Angle from zero to full transmittance, degrees."""
        return self._profile.span_deg

    @property
    def range(self) -> Tuple[float, float]:
        """Permitted transmittance, (min, max) as fractions 0-1."""
        return (self._profile.range_min, self._profile.range_max)

    @property
    def settings_path(self) -> Optional[str]:
        """The luxora settings file the curve and range came from; None when none was read."""
        return self._profile.settings_path or None

    # Life cycle.
    def close(self) -> None:
        """Closes the port (a running hold ends first); nothing when already closed."""
        for hold in list(self._holds):
            hold.stop("the attenuator was closed")
        self._call("closing", self._handle.Disconnect)

    def __enter__(self) -> "Attenuator":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"Attenuator({self.port!r}, offset={self.offset}, span={self.span})"

    # Every status and every exception of the library becomes an Error here, and nowhere else.
    def _call(self, operation: str, call: Callable[[], _T]) -> _T:
        try:
            return call()
        except (RuntimeError, ValueError, IndexError) as error:
            # The library's own exceptions: a reply whose number cannot be read, a port the system
            # refuses to cancel or close.
            raise DeviceError(self.port, operation, AttenuatorStatus.SerialUndefinedError, str(error)) from error

    def _check(self, operation: str, call: Callable[[], Union[AttenuatorStatus, int]]) -> None:
        status = self._call(operation, call)
        if status != AttenuatorStatus.Ok:
            raise DeviceError(self.port, operation, status)

    def _read(self, operation: str, call: Callable[[], Tuple[Union[AttenuatorStatus, int], _T]]) -> _T:
        status, value = self._call(operation, call)
        if status != AttenuatorStatus.Ok:
            raise DeviceError(self.port, operation, status)
        return value

    # Transmittance and its presentations.
    @property
    def transmittance(self) -> float:
        """Transmittance, fraction 0-1, read on the port's curve."""
        p = self._profile
        return self._read(
            "reading the transmittance",
            lambda: self._handle.GetTransmittance(p.offset_deg, p.span_deg, self._timeout_ms),
        )

    @transmittance.setter
    def transmittance(self, value: float) -> None:
        try:
            admitted = _optivane.admit_transmittance(self._profile, float(value), self.clamp)
        except _optivane.RangeRefused as error:
            raise OutOfRange(f"{self.port}: {error}") from None
        p = self._profile
        self._check(
            "setting the transmittance",
            lambda: self._handle.SetTransmittance(admitted, p.offset_deg, p.span_deg, self._timeout_ms),
        )

    @property
    def percent(self) -> float:
        """Transmittance in percent, 0-100."""
        return _optivane.percent_from_transmittance(self.transmittance)

    @percent.setter
    def percent(self, value: float) -> None:
        self.transmittance = _optivane.transmittance_from_percent(float(value))

    @property
    def attenuation_db(self) -> float:
        """Attenuation in dB, -10 log10(transmittance); inf for a closed beam."""
        return _optivane.db_from_transmittance(self.transmittance)

    @attenuation_db.setter
    def attenuation_db(self, value: float) -> None:
        self.transmittance = _optivane.transmittance_from_db(float(value))

    # Angle and steps, as the motor has them.
    @property
    def angle(self) -> float:
        """Motor angle in degrees; assignable within -360 < angle < 360."""
        return self._read("reading the angle", lambda: self._handle.GetMotorDegree(self._timeout_ms))

    @angle.setter
    def angle(self, value: float) -> None:
        self._check("setting the angle", lambda: self._handle.SetMotorDegree(float(value), self._timeout_ms))

    @property
    def steps(self) -> int:
        """Motor position in steps; assignable within -143360..143360."""
        return self._read("reading the steps", lambda: self._handle.GetMotorSteps(self._timeout_ms))

    @steps.setter
    def steps(self, value: int) -> None:
        # A whole number only: 8960.7 steps is a mistake, not a request to move to 8960.
        steps = operator.index(value)
        self._check("setting the steps", lambda: self._handle.SetMotorSteps(steps, self._timeout_ms))

    # Status, identity and routines.
    def status(self) -> Status:
        """The device's status and its text. A status other than Ok is returned, not raised; a link
        failure (no answer, a lost line) raises DeviceError."""
        status = self._call("reading the status", lambda: self._handle.GetCurrentStatus(self._timeout_ms))
        if status < 0:
            raise DeviceError(self.port, "reading the status", status)
        return Status(status, StatusText(int(status)))

    def info(self) -> Info:
        """Identity and step scale of the device."""
        # Each of its two exchanges gets the whole time limit.
        info = self._read("reading the identity", lambda: self._handle.GetMotorInfo(2 * self._timeout_ms))
        return Info(
            serial_number=info.serialNumber,
            year_of_manufacture=info.yearOfManufacture,
            td=int(info.td),
            ppd=int(info.ppd),
            fr=info.fr,
            hr=info.hr,
            mechanical_offset=float(info.mechanicalOffset),
        )

    def home(self) -> None:
        """Moves to the home position (mechanical calibration)."""
        self._check("home", lambda: self._handle.MechanicalCalibration(self._timeout_ms))

    def stop(self) -> None:
        """Stops the motor; a running hold ends first."""
        for hold in list(self._holds):
            hold.stop("Attenuator.stop()")
        self._check("stop", lambda: self._handle.Stop(self._timeout_ms))

    def optimize(self) -> None:
        """Starts the motor optimisation routine; a device that runs it answers Busy, which is no error."""
        self._start_routine("optimize", self._handle.StartOptimization)

    def clean(self) -> None:
        """Starts the cleaning of the mechanics; a device that runs it answers Busy, which is no error."""
        self._start_routine("clean", self._handle.StartCleaningMechanics)

    def _start_routine(self, operation: str, start: Callable[[int], Union[AttenuatorStatus, int]]) -> None:
        status = self._call(operation, lambda: start(self._timeout_ms))
        if status not in (AttenuatorStatus.Ok, AttenuatorStatus.Busy):
            raise DeviceError(self.port, operation, status)

    # Calibration against a power meter (_calibration.py).
    def calibrate(
        self,
        meter,
        wavelength: Optional[float] = None,
        points: int = 46,
        settle: float = 0.2,
        average: int = 5,
        apply: bool = False,
        full_range: bool = False,
        progress: Optional[Callable[[int, int], None]] = None,
    ):
        """Sweeps one period of the curve (two spans) around the port's offset, every point approached from
        below, reading ``meter`` (an optivane.PowerMeter, or any callable that returns watts) ``average``
        times after ``settle`` seconds at each of ``points`` angles, and fits the attenuator's real curve.
        Returns a Calibration; ``.save()`` keeps it in the device's record. ``apply=True`` writes the
        offset found into the port's luxora settings file (luxora takes it at its next connection).

        The attenuator returns to where it was, also after an error or Ctrl-C. The sweep opens the beam
        fully, so a port whose permitted range is narrower than 0 to 1 raises OutOfRange unless
        ``full_range=True``. ``progress(done, total)`` is called after each point. Raises MeterError,
        CalibrationRefused (no modulation, not the curve) or DeviceError.
        """
        from ._calibration import calibrate

        return calibrate(self, meter, wavelength, points, settle, average, apply, full_range, progress)

    # Power set-points and the measured curve (_power.py).
    def set_power(
        self,
        watts: float,
        meter,
        tolerance: float = 0.01,
        max_moves: int = 6,
        max_transmittance: Optional[float] = None,
    ) -> "PowerResult":
        """Sets a power on ``meter`` (an optivane.PowerMeter, or any callable that returns watts): a first
        move from the device's calibration (else the nominal curve), then corrections from the meter's
        readings until the power is within ``tolerance`` (relative; the meter's noise widens it) or
        ``max_moves`` are used. Every last approach comes from below, never beyond the permitted range or
        ``max_transmittance``. Returns a PowerResult; not reaching the set-point raises
        SetpointNotReached with the result and the reason attached.
        """
        from ._power import set_power

        return set_power(self, watts, meter, tolerance, max_moves, max_transmittance)

    def hold(
        self,
        watts: float,
        meter,
        tolerance: float = 0.01,
        interval: float = 1.0,
        max_transmittance: Optional[float] = None,
        max_moves: int = 6,
        on_state: Optional[Callable[[str, str], None]] = None,
    ) -> "Hold":
        """Sets the power as set_power does, then keeps it against the laser's drift on a thread of its
        own, reading the meter every ``interval`` seconds; use it as ``with att.hold(...) as h:``. A
        blocked beam or a silent meter freezes it (nothing moves until readings return), a set-point out
        of reach is held at the ceiling; ``h.state``, ``h.message`` and ``h.readings`` tell.
        ``on_state(state, message)`` is called on each change, from the hold's thread.
        """
        from ._power import Hold

        return Hold(self, watts, meter, tolerance, interval, max_moves, max_transmittance, on_state)

    @property
    def measured_transmittance(self) -> float:
        """The fraction of the full beam at the present angle, on the measured curve of the device's
        calibration (at ``wavelength``, or its only one). Assignable: a fraction outside what the
        attenuator passes or the permitted range raises OutOfRange with the reachable span, unless clamp."""
        from ._power import measured

        return measured(self)

    @measured_transmittance.setter
    def measured_transmittance(self, fraction: float) -> None:
        from ._power import set_measured

        set_measured(self, fraction)

    @property
    def measured_db(self) -> float:
        """measured_transmittance in dB below the full beam; assignable."""
        return _optivane.db_from_transmittance(self.measured_transmittance)

    @measured_db.setter
    def measured_db(self, db: float) -> None:
        self.measured_transmittance = _optivane.transmittance_from_db(float(db))

    def _calibration_fit(self, required: bool):
        from ._power import calibration_fit

        return calibration_fit(self, required)
