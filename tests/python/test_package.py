"""The Python package against the simulator: the handle one to one, and the Attenuator for people."""

import grp
import json
import os
import subprocess
import sys
import threading

import pytest

import optivane
from conftest import PORT, write_settings

# 50 % on the default curve (offset 0, span 45) is 22.5 degrees, 8960 steps at 143360 steps a turn.
HALF_STEPS_HEX = "0ma00002300"


def test_handle_mirrors_the_library(sim):
    h = optivane.Optivane()
    assert h.Connect(PORT) is True
    assert h.SetTransmittance(0.5, 0.0, 45.0, 3500) is optivane.AttenuatorStatus.Ok
    status, steps = h.GetMotorSteps(3500)
    assert (status, steps) == (optivane.AttenuatorStatus.Ok, 8960)
    status, degree = h.GetMotorDegree(3500)
    assert degree == pytest.approx(22.5)
    status, info = h.GetMotorInfo(7000)
    assert status == 0 and (info.serialNumber, info.td, info.ppd) == ("OV240117", "360", "143360")
    # The library's range check, and a device status without a name, pass through as they are.
    assert h.SetMotorDegree(400.0, 3500) is optivane.AttenuatorStatus.ParameterOutOfRange
    sim.control("force-status 42")
    assert h.GetCurrentStatus(3500) == 42
    sim.control("force-status 9")
    assert h.GetCurrentStatus(3500) is optivane.AttenuatorStatus.Busy
    assert optivane.StatusText(optivane.AttenuatorStatus.SerialTimeout) == "Serial timeout"
    h.Disconnect()
    assert h.GetMotorSteps(3500)[0] is optivane.AttenuatorStatus.SerialClosed


@pytest.mark.parametrize("attribute, value, request_sent", [
    ("percent", 50, HALF_STEPS_HEX),
    ("transmittance", 0.5, HALF_STEPS_HEX),
    ("attenuation_db", 3.0102999566, HALF_STEPS_HEX),
    ("angle", 22.5, HALF_STEPS_HEX),
    ("steps", 8960, "0ma8960"),
])
def test_every_unit_reaches_the_same_steps(sim, attribute, value, request_sent):
    with optivane.Attenuator(PORT) as att:
        setattr(att, attribute, value)
        assert sim.requests()[-1] == request_sent
        assert att.steps == 8960
        assert att.angle == pytest.approx(22.5)
        assert att.transmittance == pytest.approx(0.5, abs=1e-6)
        assert att.percent == pytest.approx(50.0, abs=1e-4)
        assert att.attenuation_db == pytest.approx(3.0103, abs=1e-4)


def test_the_settings_file_places_the_curve_and_arguments_override_it(sim, xdg):
    with optivane.Attenuator(PORT) as att:
        assert (att.offset, att.span, att.range, att.settings_path) == (0.0, 45.0, (0.0, 1.0), None)

    path = write_settings(xdg, PORT, json.dumps(
        {"offset_degree": 10, "transmittance_range_min": 0.1, "transmittance_range_max": 0.9, "presets": [50]}))
    before = (path.read_bytes(), path.stat().st_mtime_ns)
    with optivane.Attenuator(PORT) as att:
        assert att.settings_path == str(path)
        assert att.range == pytest.approx((0.1, 0.9))
        att.percent = 50
        assert sim.requests()[-1] == "0ma0000328E"  # 32.5 degrees: zero at 10, full at 55
    with optivane.Attenuator(PORT, offset=0.0, span=45.0) as att:
        att.percent = 50
        assert sim.requests()[-1] == HALF_STEPS_HEX
    assert (path.read_bytes(), path.stat().st_mtime_ns) == before


def test_a_value_outside_the_range_is_refused_unless_clamped(sim, xdg):
    write_settings(xdg, PORT, json.dumps(
        {"offset_degree": 0, "transmittance_range_min": 0.1, "transmittance_range_max": 0.9}))
    with optivane.Attenuator(PORT) as att:
        sent = len(sim.requests())
        with pytest.raises(optivane.OutOfRange, match=r"0\.95 is outside the permitted range 0\.1 to 0\.9"):
            att.transmittance = 0.95
        assert len(sim.requests()) == sent
    with optivane.Attenuator(PORT, clamp=True) as att:
        att.percent = 95
        assert att.transmittance == pytest.approx(0.9, abs=1e-4)


def test_connection_failures_say_why(start_sim, xdg):
    with pytest.raises(optivane.ConnectionFailed, match="COM5: no such port") as failure:
        optivane.Attenuator(PORT)
    assert failure.value.reason == "no-such-port"

    silent = start_sim("--silent")
    with pytest.raises(optivane.ConnectionFailed, match="COM5: no answer from the device") as failure:
        optivane.Attenuator(PORT)
    assert failure.value.reason == "no-answer"
    silent.stop()

    start_sim()
    with optivane.Attenuator(PORT):
        with pytest.raises(optivane.ConnectionFailed, match="COM5: in use by another program") as failure:
            optivane.Attenuator(PORT)
        assert failure.value.reason == "in-use"


@pytest.mark.skipif(os.geteuid() != 0, reason="opening the device as another user needs root")
def test_permission_denied_names_the_group(sim):
    os.chmod(sim.pty, 0o660)
    probe = ("import optivane\n"
             "try:\n"
             f"    optivane.Attenuator({sim.pty!r})\n"
             "except optivane.ConnectionFailed as e:\n"
             "    print(e.reason, e)\n")
    nobody = 65534
    result = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=30,
                            user=nobody, group=nobody, extra_groups=[], cwd="/")
    assert result.returncode == 0, result.stderr
    group = grp.getgrgid(os.stat(sim.pty).st_gid).gr_name
    assert result.stdout.startswith(f"permission-denied {sim.pty}: permission denied on {sim.pty}; "
                                    f"join the group '{group}'"), result.stdout


def test_a_failed_operation_raises_with_its_status(sim):
    with optivane.Attenuator(PORT) as att:
        sim.control("force-status 9")
        assert att.status() == (optivane.AttenuatorStatus.Busy, "Busy")
        with pytest.raises(optivane.DeviceError, match=r"COM5: reading the steps: Busy \(9\)") as failure:
            att.steps
        assert (failure.value.status, failure.value.text) == (optivane.AttenuatorStatus.Busy, "Busy")
        sim.control("force-status off")
        with pytest.raises(optivane.DeviceError) as failure:
            att.steps = 200000
        assert failure.value.status is optivane.AttenuatorStatus.ParameterOutOfRange


def test_a_hang_up_mid_call_raises_and_nothing_reads_as_zero(sim):
    with optivane.Attenuator(PORT) as att:
        att.steps = 8960
        sim.control("hangup next")
        for _ in range(2):
            with pytest.raises(optivane.DeviceError) as failure:
                att.transmittance
            assert failure.value.status is optivane.AttenuatorStatus.SerialClosed


def test_other_threads_run_while_the_device_answers(sim):
    # The reply is held back far longer than the test waits: only this thread, running while the other
    # waits for it, can end the call early, by hanging the line up.
    with optivane.Attenuator(PORT, timeout=60) as att:
        sim.control("delay 30000")
        outcome = []

        def read():
            try:
                outcome.append(att.steps)
            except optivane.DeviceError as error:
                outcome.append(error.status)

        reader = threading.Thread(target=read)
        reader.start()
        sim.wait_for(lambda: sim.requests()[-1] == "0gp", "the delayed request")
        sim.control("hangup")
        reader.join(30)
        assert outcome == [optivane.AttenuatorStatus.SerialClosed]


def test_one_attenuator_serves_several_threads(sim):
    with optivane.Attenuator(PORT) as att:
        att.percent = 50
        results = []

        def read():
            results.extend((att.steps, round(att.angle, 3), round(att.percent, 3)) for _ in range(20))

        threads = [threading.Thread(target=read) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        assert results == [(8960, 22.5, 50.0)] * 80


def test_ports_lists_what_exists(sim):
    assert optivane.ports() == [PORT]
    sim.stop()
    assert optivane.ports() == []


def test_routines_and_identity(sim):
    with optivane.Attenuator(PORT) as att:
        assert att.info() == optivane.Info("OV240117", "2024", 360, 143360, "01", "02", 0.0)
        att.steps = 1000
        att.home()
        assert att.steps == 0
        att.optimize()  # answered Busy: the simulated routine runs
        att.stop()
        att.clean()
        assert sim.requests()[-6:] == ["0ma1000", "0ho0", "0gp", "0om", "0st", "0cm"]
