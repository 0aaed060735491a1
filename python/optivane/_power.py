"""Power set-points with a meter in the loop, the hold that keeps one, and the measured curve of a
calibration, for people. The loop itself is the C++ one every front end shares."""

from __future__ import annotations

import math
import threading
from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, List, Optional, Union

from . import _optivane
from ._attenuator import DeviceError, Error, OutOfRange
from ._calibration import PowerMeter
from ._optivane import AttenuatorStatus

if TYPE_CHECKING:
    from ._attenuator import Attenuator

Meter = Union[PowerMeter, Callable[[], float]]


@dataclass(frozen=True)
class PowerResult:
    """What a closed-loop set reached."""

    reached: bool
    setpoint_w: float
    power_w: float
    """the last averaged reading; nan when there was none"""
    relative_error: float
    """(power_w - setpoint_w) / setpoint_w"""
    tolerance: float
    """the tolerance used: the larger of the one given and twice the meter's relative noise"""
    noise: float
    """the meter's relative standard deviation over the last readings"""
    moves: int
    angle_deg: float
    reason: str
    """empty when reached; else laser-too-weak, below-floor, meter-not-answering, not-following or
    moves-exhausted"""
    message: str


class SetpointNotReached(Error):
    """A closed-loop set ended outside the tolerance; ``result`` is the PowerResult with the reason.
    The attenuator stays where the loop left it, never beyond the permitted range."""

    def __init__(self, message: str, result: PowerResult) -> None:
        super().__init__(message)
        self.result = result


@dataclass(frozen=True)
class HoldReading:
    """One reading of a hold. ``power_w`` is None when the meter gave none (``error`` says why)."""

    time: float
    """seconds since the epoch"""
    power_w: Optional[float]
    relative_error: Optional[float]
    angle_deg: float
    state: str
    error: str


def _source(meter: Meter):
    if isinstance(meter, PowerMeter):
        return meter._meter
    if callable(meter):
        return meter
    raise TypeError(f"meter must be a PowerMeter or a callable returning watts, got {meter!r}")


def _check_setpoint(watts: float) -> float:
    watts = float(watts)
    if not (math.isfinite(watts) and watts > 0):
        raise ValueError(f"a power set-point must be a positive number of watts, got {watts!r}")
    return watts


def plan(att: "Attenuator", fit: Optional[dict], max_transmittance: Optional[float]):
    try:
        return _optivane.power_plan(att._profile, fit, max_transmittance)
    except _optivane.Refused as error:
        raise OutOfRange(f"{att.port}: {error}") from None


def _motor_error(att: "Attenuator", operation: str, error: Exception) -> DeviceError:
    status, message = error.args
    named = status in AttenuatorStatus._value2member_map_
    return DeviceError(att.port, operation, AttenuatorStatus(status) if named else status, message)


def set_power(att: "Attenuator", watts: float, meter: Meter, tolerance: float, max_moves: int,
              max_transmittance: Optional[float]) -> PowerResult:
    watts = _check_setpoint(watts)
    loop_plan = plan(att, att._calibration_fit(required=False), max_transmittance)
    try:
        result = _optivane.set_power(att._handle, att.port, att._timeout_ms, loop_plan, _source(meter), watts,
                                     float(tolerance), int(max_moves), 0.2, 3)
    except _optivane.MotorError as error:
        raise _motor_error(att, "setting the power", error) from None
    except _optivane.Refused as error:
        raise ValueError(f"{att.port}: {error}") from None
    reached = PowerResult(**result)
    if not reached.reached:
        raise SetpointNotReached(f"{att.port}: {reached.message}", reached)
    return reached


class Hold:
    """A hold running on a thread of its own (see Attenuator.hold). ``readings`` grows with every
    reading; ``state`` is "holding", "frozen", "at-ceiling", "at-floor" or "stopped", and ``message``
    says why. ``stop()`` ends it at once and leaves the attenuator where it is; so do the end of the
    ``with`` block and ``Attenuator.stop()``."""

    def __init__(self, att: "Attenuator", watts: float, meter: Meter, tolerance: float, interval: float,
                 max_moves: int, max_transmittance: Optional[float],
                 on_state: Optional[Callable[[str, str], None]]) -> None:
        watts = _check_setpoint(watts)
        if not (interval >= 0 and math.isfinite(interval)):
            raise ValueError(f"interval must be seconds, 0 or more, got {interval!r}")
        self.setpoint_w = watts
        self.readings: List[HoldReading] = []
        self.corrections: List[tuple] = []
        self._lock = threading.Lock()
        self._on_state = on_state
        self._att = att
        loop_plan = plan(att, att._calibration_fit(required=False), max_transmittance)
        try:
            self._hold = _optivane.PowerHold(att._handle, att.port, att._timeout_ms, loop_plan, _source(meter), watts,
                                             float(tolerance), float(interval), int(max_moves), self._reading,
                                             self._state, self._correction)
        except _optivane.Refused as error:
            raise ValueError(f"{att.port}: {error}") from None
        att._holds.append(self)

    # Called by the loop's thread, with the interpreter's lock taken.
    def _reading(self, time: float, valid: bool, power: float, error: float, angle: float, state: str,
                 message: str) -> None:
        with self._lock:
            self.readings.append(HoldReading(time, power if valid else None, error if valid else None, angle,
                                             state, message))

    def _state(self, state: str, message: str) -> None:
        if self._on_state is not None:
            self._on_state(state, message)

    def _correction(self, time: float, from_deg: float, to_deg: float, power: float, error: float) -> None:
        with self._lock:
            self.corrections.append((time, from_deg, to_deg, power, error))

    @property
    def state(self) -> str:
        return self._hold.state

    @property
    def message(self) -> str:
        return self._hold.message

    @property
    def running(self) -> bool:
        return self._hold.running

    @property
    def set_result(self) -> Optional[PowerResult]:
        """What the closed-loop set at the start reached, once it has ended."""
        result = self._hold.set_result
        return None if result is None else PowerResult(**result)

    def stop(self, reason: str = "stopped") -> None:
        """Ends the hold at once; the attenuator stays where it is."""
        self._hold.stop(reason)
        self._hold.wait()
        if self in self._att._holds:
            self._att._holds.remove(self)

    def __enter__(self) -> "Hold":
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop("the with block ended")

    def __repr__(self) -> str:
        return f"Hold({self.setpoint_w!r} W, state={self.state!r})"


def measured(att: "Attenuator") -> float:
    loop_plan = plan(att, att._calibration_fit(required=True), None)
    return loop_plan.measured_at(att.angle)


def set_measured(att: "Attenuator", fraction: float) -> None:
    loop_plan = plan(att, att._calibration_fit(required=True), None)
    try:
        angle = loop_plan.angle_for_measured(float(fraction), att.clamp)
    except _optivane.Refused as error:
        raise OutOfRange(f"{att.port}: {error}; nothing moved") from None
    try:
        _optivane.approach(att._handle, att.port, att._timeout_ms, loop_plan, angle)
    except _optivane.MotorError as error:
        raise _motor_error(att, "setting the measured transmittance", error) from None


def calibration_fit(att: "Attenuator", required: bool) -> Optional[dict]:
    if att._serial is None:
        att._serial = att.info().serial_number
    try:
        entry = _optivane.find_calibration(att._serial, att.wavelength)
    except _optivane.RecordError as error:
        message = str(error).replace("optivane calibrate PORT", f"optivane calibrate {att.port}")
        raise Error(f"{att.port}: {message} (or Attenuator.calibrate)") from None
    if entry is None and required:
        raise Error(f"{att.port}: no calibration for {att._serial}; make one with Attenuator.calibrate(meter) "
                    f"and save() it, or optivane calibrate {att.port} --meter ADDRESS")
    return entry
