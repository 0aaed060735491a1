"""Power set-points of the Optivane device with the simulator's bench meter in the loop: a closed-loop set
with Power's change events, a hold that freezes on a blocked beam and holds again when it returns, Release
and Stop ending it; the measured transmittance of a calibration record, and what the power attributes say
without a meter or a calibration."""

import json
import math

import pytest
import tango

from conftest import attenuator, attenuator_with_meter, wait_state, wait_until

# A 10 mW laser, a curve 0.8 degrees off the one the device is told, 0.2 % noise on each reading.
BENCH = ("--speed", "40", "--laser-mw", "10", "--true-offset-deg", "0.8", "--noise", "0.002", "--seed", "7")


def bench_power(sim):
    """The power at the meter now, without its noise."""
    return float(sim.control("get power").split()[1])


def meter_queries(sim):
    return int(sim.control("get meter-queries").split()[1])


def refusal(call):
    with pytest.raises(tango.DevFailed) as failure:
        call()
    return failure.value.args[0]


def test_a_power_setpoint_write_reaches_it_with_the_meter_in_the_loop(rig):
    sim, device = attenuator_with_meter(rig, *BENCH)
    powers = []
    subscription = device.subscribe_event(
        "Power", tango.EventType.CHANGE_EVENT, lambda e: e.err or powers.append(e.attr_value.value))
    try:
        wait_until(lambda: powers, what="a first Power event")
        device.PowerSetpoint = 1e-3
        assert device.state() == tango.DevState.MOVING
        wait_state(device, tango.DevState.ON)
        assert "reached" in device.status()
        assert bench_power(sim) == pytest.approx(1e-3, rel=0.02)
        assert device.PowerSetpoint == 1e-3
        assert device.Power == pytest.approx(1e-3, rel=0.03)
        wait_until(lambda: powers[-1] == pytest.approx(1e-3, rel=0.03), what="a Power event at the set-point")
    finally:
        device.unsubscribe_event(subscription)
    assert device.get_attribute_config("Power").unit == "W"


def test_a_hold_freezes_on_a_blocked_beam_and_holds_again_when_it_returns(rig):
    sim, device = attenuator_with_meter(rig, *BENCH, HoldIntervalMs=200)
    device.Hold(1e-3)
    assert device.state() == tango.DevState.RUNNING
    wait_until(lambda: device.status().startswith("Holding 1 mW"), what="the hold after its first set")
    error = refusal(lambda: device.write_attribute("Transmittance", 0.5))
    assert error.reason == "OPTIVANE_REFUSED" and "RUNNING" in error.desc

    moves = len(sim.moves())
    assert sim.control("beam block") == "ok"
    wait_state(device, tango.DevState.ALARM)
    assert "frozen" in device.status()
    queries = meter_queries(sim)
    wait_until(lambda: meter_queries(sim) >= queries + 3, what="three readings of the blocked beam")
    assert len(sim.moves()) == moves and device.state() == tango.DevState.ALARM

    assert sim.control("beam unblock") == "ok"
    wait_state(device, tango.DevState.RUNNING)
    assert device.status().startswith("Holding 1 mW")
    assert bench_power(sim) == pytest.approx(1e-3, rel=0.05)

    device.Release()
    wait_state(device, tango.DevState.ON)
    assert "released" in device.status()
    # Stop ends a hold too, before it stops the motor; both leave the attenuator where it is.
    device.Hold(1e-3)
    wait_until(lambda: device.status().startswith("Holding 1 mW"), what="the second hold")
    device.Stop()
    wait_state(device, tango.DevState.ON)
    assert "ended by Stop" in device.status()
    assert "0st" in sim.requests()[sim.requests().index(sim.moves()[-1]):]
    assert bench_power(sim) == pytest.approx(1e-3, rel=0.05)


def test_without_a_meter_or_a_calibration_the_power_attributes_say_what_is_missing(rig):
    sim, device = attenuator(rig)
    cases = [
        (lambda: device.Power, "OPTIVANE_NO_METER", "Meter"),
        (lambda: device.write_attribute("PowerSetpoint", 1e-3), "OPTIVANE_REFUSED", "Meter"),
        (lambda: device.Hold(1e-3), "OPTIVANE_REFUSED", "Meter"),
        (lambda: device.MeasuredTransmittance, "OPTIVANE_NO_CALIBRATION", "optivane calibrate"),
        (lambda: device.write_attribute("MeasuredTransmittance", 0.5), "OPTIVANE_NO_CALIBRATION",
         "optivane calibrate"),
    ]
    for call, reason, words in cases:
        error = refusal(call)
        assert (error.reason, words in error.desc) == (reason, True), error.desc
    assert device.state() == tango.DevState.ON
    assert sim.moves() == []


def test_measured_transmittance_reads_and_writes_on_the_calibration_curve(rig):
    # A calibration record of the simulated device at the meter's wavelength: the bench's own curve.
    full, offset = 10e-3 * 10 ** -0.04, 0.8
    height = (full - full / 1000) / 2
    entry = {"wavelength_nm": 1550, "date": "2026-12-09T10:00:00Z", "meter": "bench", "points": 46, "span_deg": 45,
             "offset_deg": offset, "offset_uncertainty_deg": 0.01, "pmin_w": full / 1000, "pmax_w": full,
             "extinction_db": 30, "residual_rms": 0.001, "samples": [],
             "fit": {"a": (full + full / 1000) / 2, "b": -height * math.cos(math.pi * offset / 45),
                     "c": -height * math.sin(math.pi * offset / 45)}}
    folder = rig.folder / "xdg_data_home" / "optivane" / "calibrations"
    folder.mkdir(parents=True)
    (folder / "OV240117.json").write_text(json.dumps({"format": 1, "serial": "OV240117", "entries": [entry]}))
    sim, device = attenuator_with_meter(rig, *BENCH, RangeMax=0.8)

    device.MeasuredTransmittance = 0.1
    wait_state(device, tango.DevState.ON)
    assert bench_power(sim) / full == pytest.approx(0.1, rel=1e-3)
    assert device.MeasuredTransmittance == pytest.approx(0.1, rel=1e-3)
    moves = sim.moves()
    error = refusal(lambda: device.write_attribute("MeasuredTransmittance", 0.95))
    assert error.reason == "OPTIVANE_REFUSED" and "reachable" in error.desc and "--clamp" not in error.desc
    assert sim.moves() == moves
