"""Power meters and the calibration of the attenuator against one, for people."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Callable, List, Optional, Tuple, Union

from . import _optivane
from ._attenuator import DeviceError, Error, OutOfRange
from ._optivane import AttenuatorStatus

if TYPE_CHECKING:
    from ._attenuator import Attenuator


class MeterError(Error):
    """The power meter did not answer, answered with no reading (no number, over range, negative), or
    did not open; the message names the meter."""


class CalibrationRefused(Error):
    """The readings make no calibration: the meter saw no modulation (beam off, or not on the meter),
    or they do not follow the attenuator's curve. Nothing was saved or applied."""


def _meter_call(call):
    try:
        return call()
    except _optivane.MeterError as error:
        raise MeterError(str(error)) from None


class PowerMeter:
    """A power meter at an address: ``"usbtmc:/dev/usbtmc0"``, ``"serial:/dev/ttyUSB1:115200"`` (or
    ``"serial:COM7:115200"``) or ``"tcp:HOST:PORT"``, speaking the dialect ``kind`` (``"thorlabs"``,
    ``"newport"``, ``"ophir"`` or ``"gentec"``). ``timeout`` is the time limit of every reply in seconds.

    Every property read asks the meter; failures raise MeterError. Other Python threads run while it
    answers.
    """

    def __init__(self, address: str, kind: str = "thorlabs", timeout: float = 1.0) -> None:
        if not (timeout > 0 and math.isfinite(timeout)):
            raise ValueError(f"timeout must be a positive number of seconds, got {timeout!r}")
        self.address = address
        self._meter = _meter_call(
            lambda: _optivane.PowerMeter(address, kind, max(1, int(round(timeout * 1000)))))

    @property
    def kind(self) -> str:
        return self._meter.kind

    @property
    def power(self) -> float:
        """One reading in watts."""
        return _meter_call(self._meter.ReadPowerW)

    @property
    def identity(self) -> str:
        """The meter's identity line (and its sensor's, for Thorlabs)."""
        return _meter_call(self._meter.Identity)

    @property
    def has_wavelength(self) -> bool:
        """Whether the dialect sets a wavelength (Thorlabs and Newport do)."""
        return self._meter.HasWavelength()

    @property
    def wavelength(self) -> float:
        """The wavelength the meter corrects for, nm."""
        return _meter_call(self._meter.WavelengthNm)

    @wavelength.setter
    def wavelength(self, nm: float) -> None:
        _meter_call(lambda: self._meter.SetWavelengthNm(float(nm)))

    def zero(self) -> None:
        """Zeroes the dark reading (Thorlabs); cover the sensor first."""
        _meter_call(self._meter.Zero)

    def auto_range(self) -> None:
        """Switches auto range on (Thorlabs, Newport; the others range by themselves)."""
        _meter_call(self._meter.SetAutoRange)

    def __repr__(self) -> str:
        return f"PowerMeter({self.address!r}, kind={self.kind!r})"


@dataclass
class Calibration:
    """The attenuator's measured curve, P = a + b cos(pi theta/span) + c sin(pi theta/span): the angle of
    minimum transmittance with its standard uncertainty, the least and greatest power, the extinction
    (inf when Pmin is at or below 0), the residuals' RMS over Pmax, and the sweep's readings."""

    serial: str
    port: str
    offset_deg: float
    offset_uncertainty_deg: float
    pmin_w: float
    pmax_w: float
    extinction_db: float
    residual_rms: float
    wavelength_nm: float
    meter: str
    date: str
    span_deg: float = 45.0
    samples: List[Tuple[float, float]] = field(default_factory=list, repr=False)
    applied: Optional[str] = None
    """the luxora settings file the offset was written to, with apply=True"""
    _fit: dict = field(default_factory=dict, repr=False)

    def power_at(self, angle_deg: float) -> float:
        """The fitted power at a motor angle, watts."""
        x = math.pi * angle_deg / self.span_deg
        return self._fit["a"] + self._fit["b"] * math.cos(x) + self._fit["c"] * math.sin(x)

    def save(self) -> str:
        """Adds this calibration to the device's record (one entry per wavelength, replacing one at the
        same wavelength); returns the record's path."""
        entry = dict(self._fit)
        entry.update(wavelength_nm=self.wavelength_nm, date=self.date, meter=self.meter, samples=self.samples)
        try:
            return _optivane.save_calibration(self.serial, entry)
        except _optivane.RecordError as error:
            raise Error(str(error)) from None

    def plot(self, path: str) -> None:
        """Draws the points, the fitted curve and the residuals into path (any format matplotlib writes,
        by the file's name). Needs matplotlib (Debian: python3-matplotlib)."""
        try:
            import matplotlib

            matplotlib.use("Agg")
            from matplotlib import pyplot
        except ImportError:
            raise Error("plotting needs matplotlib: install Debian's python3-matplotlib") from None
        angles = [a for a, _ in self.samples]
        powers = [p for _, p in self.samples]
        low, high = min(angles), max(angles)
        curve = [low + (high - low) * i / 400 for i in range(401)]
        figure, (top, bottom) = pyplot.subplots(
            2, 1, sharex=True, figsize=(8.6, 6.4), gridspec_kw={"height_ratios": [3, 1]})
        top.plot(angles, [p * 1e3 for p in powers], "o", color="#1f5fa8", ms=4, label=f"measured, {len(angles)} points")
        top.plot(curve, [self.power_at(a) * 1e3 for a in curve], "-", color="#d2462d", lw=1.8, label="fit")
        top.axvline(self.offset_deg, color="#6b7785", ls="--", lw=1)
        top.set_ylabel("power (mW)")
        extinction = "inf" if math.isinf(self.extinction_db) else f"{self.extinction_db:.1f} dB"
        top.set_title(f"Attenuator calibration: {self.serial} on {self.port}"
                      + (f" at {self.wavelength_nm:g} nm" if self.wavelength_nm > 0 else ""))
        top.legend(loc="upper center", title=(
            f"offset {self.offset_deg:.3f}\u00b0 \u00b1 {self.offset_uncertainty_deg:.3f}\u00b0\n"
            f"Pmin {self.pmin_w * 1e3:.4g} mW   Pmax {self.pmax_w * 1e3:.4g} mW\n"
            f"extinction {extinction}   residual RMS {self.residual_rms * 100:.2f} %"))
        top.grid(color="#e3e6ea")
        bottom.plot(angles, [(p - self.power_at(a)) / self.pmax_w * 100 for a, p in self.samples], "o",
                    color="#1f5fa8", ms=3)
        bottom.axhline(0, color="#9aa3ad", lw=1)
        bottom.set_ylabel("residual (% of Pmax)")
        bottom.set_xlabel("motor angle (degrees)")
        bottom.grid(color="#e3e6ea")
        figure.text(0.01, 0.01, f"meter: {self.meter}    {self.date}", fontsize=8, alpha=0.8)
        figure.tight_layout(rect=(0, 0.03, 1, 1))
        figure.savefig(path)
        pyplot.close(figure)


def _from_entry(serial: str, entry: dict, port: str = "") -> Calibration:
    return Calibration(
        serial=serial, port=port, offset_deg=entry["offset_deg"],
        offset_uncertainty_deg=entry["offset_uncertainty_deg"], pmin_w=entry["pmin_w"], pmax_w=entry["pmax_w"],
        extinction_db=entry["extinction_db"], residual_rms=entry["residual_rms"],
        wavelength_nm=entry["wavelength_nm"], meter=entry["meter"], date=entry["date"],
        span_deg=entry["span_deg"], samples=[tuple(s) for s in entry["samples"]],
        _fit={k: entry[k] for k in ("span_deg", "a", "b", "c", "offset_deg", "offset_uncertainty_deg", "pmin_w",
                                    "pmax_w", "extinction_db", "residual_rms", "points")})


def calibrations(serial: Optional[str] = None) -> List[Calibration]:
    """The calibrations kept, of one device or of all, each device's in ascending wavelength."""
    serials = [serial] if serial is not None else _optivane.calibration_serials()
    try:
        return [_from_entry(s, entry) for s in serials for entry in _optivane.load_calibrations(s)]
    except _optivane.RecordError as error:
        raise Error(str(error)) from None


def _callable_source(meter: Callable[[], float]) -> Callable[[], float]:
    def read() -> float:
        value = float(meter())
        if not (math.isfinite(value) and value >= 0):
            raise MeterError(f"the meter callable returned {value!r}, which is no power in watts")
        return value

    return read


def calibrate(
    att: "Attenuator",
    meter: Union[PowerMeter, Callable[[], float]],
    wavelength: Optional[float],
    points: int,
    settle: float,
    average: int,
    apply: bool,
    full_range: bool,
    progress: Optional[Callable[[int, int], None]],
) -> Calibration:
    low, high = att.range
    if (low > 0 or high < 1) and not full_range:
        raise OutOfRange(f"{att.port}: the permitted range is {low:g} to {high:g}, and a calibration opens the "
                         "beam fully; pass full_range=True to sweep anyway")
    if isinstance(meter, PowerMeter):
        identity = meter.identity
        if meter.has_wavelength:
            if wavelength is not None:
                meter.wavelength = wavelength
            wavelength_nm = meter.wavelength
        else:
            wavelength_nm = float(wavelength or 0.0)
        meter.auto_range()
        source = meter._meter
    elif callable(meter):
        identity = getattr(meter, "identity", None) or getattr(meter, "__qualname__", type(meter).__name__)
        wavelength_nm = float(wavelength or 0.0)
        source = _callable_source(meter)
    else:
        raise TypeError(f"meter must be a PowerMeter or a callable returning watts, got {meter!r}")
    serial = att.info().serial_number
    try:
        samples, fit = _optivane.sweep(att._handle, att.port, att._timeout_ms, source, int(points), float(settle),
                                       int(average), att.span, att.offset, progress)
    except _optivane.MeterError as error:
        raise MeterError(str(error)) from None
    except _optivane.CalibrationRefused as error:
        raise CalibrationRefused(f"{att.port}: calibration refused: {error}") from None
    except _optivane.MotorError as error:
        status, message = error.args
        named = status in AttenuatorStatus._value2member_map_
        raise DeviceError(att.port, "calibrating", AttenuatorStatus(status) if named else status, message) from None
    entry = dict(fit, wavelength_nm=wavelength_nm, date=_optivane.now_utc(), meter=str(identity), samples=samples)
    result = _from_entry(serial, entry, att.port)
    if apply:
        try:
            result.applied = _optivane.apply_offset(att.port, result.offset_deg)
        except _optivane.SettingsError as error:
            raise Error(str(error)) from None
    return result
