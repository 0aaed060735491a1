"""Attenuator.set_power and Attenuator.hold against the simulator's bench: the laser's curve lies 1.5 degrees
from where the software thinks, and the meter reads with 0.2 % noise."""

import pytest

from conftest import PORT
from test_power_cli import bench  # noqa: F401


def test_python_set_power_and_hold(bench, xdg):
    import optivane

    with optivane.Attenuator(PORT) as att:
        meter = optivane.PowerMeter(bench.address)
        result = att.set_power(0.5e-3, lambda: meter.power)
        assert result.reached and abs(result.relative_error) <= result.tolerance
        with pytest.raises(optivane.SetpointNotReached) as refused:
            att.set_power(5e-3, meter, max_transmittance=0.2)
        assert refused.value.result.reason == "laser-too-weak"

        states = []
        with att.hold(0.5e-3, meter, interval=0.1, on_state=lambda state, message: states.append(state)) as h:
            bench.wait_for(lambda: len(h.readings) >= 3, "three readings")
            bench.control("beam block")
            bench.wait_for(lambda: h.state == "frozen", "the freeze")
            bench.control("beam unblock")
            bench.wait_for(lambda: h.state == "holding", "the hold to resume")
            att.stop()
            assert not h.running and h.state == "stopped"
        assert states == ["frozen", "holding", "stopped"]
        assert h.set_result.reached and any(r.power_w is None or r.power_w < 1e-4 for r in h.readings)
        with pytest.raises(optivane.Error, match="no calibration"):
            att.measured_transmittance
