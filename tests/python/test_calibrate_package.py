"""Attenuator.calibrate through the package against the simulator's bench: with any callable that returns
watts, and with optivane.PowerMeter."""

import math

import pytest

import optivane
from conftest import PORT

TRUE_OFFSET = -3.7


@pytest.fixture
def bench(start_sim):
    sim = start_sim("--meter-port", "COM6", "--true-offset-deg", TRUE_OFFSET, "--noise", 0.002, "--seed", 2)
    sim.control("set position 5000")
    return sim


def test_calibrate_with_a_callable_meter(bench, xdg, tmp_path):
    readings = []

    def read_watts():
        # A meter driver the user already has: here the simulator's own power at the meter.
        readings.append(float(bench.control("get power").split()[1]))
        return readings[-1]

    progress = []
    with optivane.Attenuator(PORT) as att:
        cal = att.calibrate(read_watts, wavelength=633, points=20, settle=0, average=1,
                            progress=lambda done, total: progress.append((done, total)))
        assert att.steps == 5000
    assert len(readings) == 20 and progress[-1] == (20, 20)
    assert cal.offset_deg == pytest.approx(TRUE_OFFSET, abs=0.01)
    assert cal.pmax_w == pytest.approx(0.010 * 10 ** -0.04, rel=1e-3)
    assert cal.extinction_db == pytest.approx(30, abs=0.1)
    assert (cal.serial, cal.port, cal.wavelength_nm, len(cal.samples)) == ("OV240117", PORT, 633, 20)
    assert cal.power_at(cal.offset_deg) == pytest.approx(cal.pmin_w)
    cal.save()
    (kept,) = optivane.calibrations("OV240117")
    assert (kept.offset_deg, kept.samples, kept.meter) == (cal.offset_deg, cal.samples, cal.meter)
    try:
        cal.plot(str(tmp_path / "cal.png"))
        assert (tmp_path / "cal.png").read_bytes().startswith(b"\x89PNG")
    except optivane.Error as error:
        assert "matplotlib" in str(error)


def test_power_meter_and_its_failures(bench, xdg):
    path = bench.control("get meter-pty").split()[1]
    meter = optivane.PowerMeter(f"usbtmc:{path}", kind="thorlabs", timeout=0.3)
    assert meter.identity.startswith("THORLABS,PM100D")
    meter.wavelength = 1064
    assert meter.wavelength == 1064
    assert meter.power == pytest.approx(float(bench.control("get power").split()[1]), rel=0.02)

    with optivane.Attenuator(PORT) as att:
        bench.control("set position 5000")
        bench.control("beam block")
        with pytest.raises(optivane.CalibrationRefused, match="no modulation"):
            att.calibrate(meter, points=12, settle=0, average=1)
        bench.control("beam unblock")
        bench.control("meter over on")
        with pytest.raises(optivane.MeterError, match="thorlabs meter at usbtmc"):
            att.calibrate(meter, points=12, settle=0, average=1)
        assert att.steps == 5000
        with pytest.raises(optivane.MeterError, match="no power"):
            att.calibrate(lambda: math.nan, points=12, settle=0, average=1)
        assert att.steps == 5000
