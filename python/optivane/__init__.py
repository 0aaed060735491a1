"""Drive an Optivane motorised attenuator from Python.

Two levels:

* ``optivane.Optivane`` is the C++ library's handle one to one: the same method names and time
  limits in milliseconds, output pointers returned as tuples::

      h = optivane.Optivane()
      h.Connect("COM5")
      status, steps = h.GetMotorSteps(3500)

* ``optivane.Attenuator`` is for people: it opens the port, reads the port's curve and permitted
  range from luxora's settings file, works in fractions, percent, dB, degrees and steps, and raises
  an ``optivane.Error`` for every failure::

      with optivane.Attenuator("COM5") as att:
          att.percent = 50
          print(att.attenuation_db)

* ``optivane.PowerMeter`` reads a power meter, and ``Attenuator.calibrate(meter)`` fits the
  attenuator's real curve against it::

      with optivane.Attenuator("COM5") as att:
          cal = att.calibrate(optivane.PowerMeter("usbtmc:/dev/usbtmc0"), wavelength=1550)
          print(cal.offset_deg, cal.extinction_db)
          cal.save()

* ``Attenuator.set_power(watts, meter)`` sets a power with the meter in the loop, and
  ``Attenuator.hold(watts, meter)`` keeps it on a thread of its own::

      with optivane.Attenuator("COM5") as att:
          meter = optivane.PowerMeter("usbtmc:/dev/usbtmc0")
          print(att.set_power(1.2e-3, meter).power_w)
          with att.hold(1.2e-3, meter, interval=1.0) as h:
              time.sleep(60)
          print(h.state, len(h.readings))
"""

from ._optivane import AttenuatorStatus, MotorInfo, Optivane, StatusText
from ._attenuator import (
    Attenuator,
    ConnectionFailed,
    DeviceError,
    Error,
    Info,
    OutOfRange,
    Status,
    ports,
)
from ._calibration import Calibration, CalibrationRefused, MeterError, PowerMeter, calibrations
from ._power import Hold, HoldReading, PowerResult, SetpointNotReached

# Shown as optivane.DeviceError rather than by the private module that defines them.
for _public in (Attenuator, ConnectionFailed, DeviceError, Error, Info, OutOfRange, Status,
                Calibration, CalibrationRefused, MeterError, PowerMeter, Hold, HoldReading, PowerResult,
                SetpointNotReached):
    _public.__module__ = __name__
del _public

__all__ = [
    "Attenuator",
    "AttenuatorStatus",
    "Calibration",
    "CalibrationRefused",
    "ConnectionFailed",
    "DeviceError",
    "Error",
    "Hold",
    "HoldReading",
    "Info",
    "MeterError",
    "MotorInfo",
    "Optivane",
    "OutOfRange",
    "PowerMeter",
    "PowerResult",
    "SetpointNotReached",
    "Status",
    "StatusText",
    "calibrations",
    "ports",
]
