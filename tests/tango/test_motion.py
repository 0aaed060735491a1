"""Moves and routines of the Optivane device run in the background: MOVING and DISABLE while they
last, a second command refused meanwhile, Stop ahead of everything, devices independent."""

import pytest
import tango

from conftest import attenuator, wait_state, wait_until


def refusal(call):
    with pytest.raises(tango.DevFailed) as failure:
        call()
    return failure.value.args[0]


def test_a_slow_move_is_moving_until_the_device_answers(rig):
    # 3 s for the move, inside the default time limit.
    sim, device = attenuator(rig, "--speed", "10")
    device.Angle = 30.0
    assert device.state() == tango.DevState.MOVING
    assert device.read_attribute("Transmittance").quality == tango.AttrQuality.ATTR_CHANGING
    error = refusal(lambda: device.write_attribute("Transmittance", 0.5))
    assert error.reason == "OPTIVANE_REFUSED" and "MOVING" in error.desc

    wait_state(device, tango.DevState.ON)
    assert device.Angle == pytest.approx(30.0, abs=0.01)
    assert sim.moves() == ["0ma00002EAA"]


def test_stop_during_a_long_move_reaches_the_device_after_the_move_on_the_line(rig):
    # The device answers a move when the motor arrives; this one takes 8 s, far beyond the time limit.
    sim, device = attenuator(rig, "--speed", "5", TimeoutMs=500)
    device.Angle = 40.0
    wait_until(sim.moves, what="the move at the device")
    device.Stop()

    # Stop's answer comes behind the move's late one, so a poll may first read a stale line: the
    # position is trusted again at the next poll.
    wait_until(lambda: device.state() == tango.DevState.ON
               and device.read_attribute("Angle").quality == tango.AttrQuality.ATTR_VALID, what="ON, position read")
    requests = sim.requests()
    move = next(i for i, r in enumerate(requests) if r.startswith("0ma"))
    assert requests[move + 1] == "0st"
    assert sim.control("get moving") == "ok 0"
    assert device.Angle < 39.0


def test_two_devices_in_one_server_move_independently(rig):
    # 5 s for the slow move, long enough for a loaded machine to finish the other one meanwhile.
    slow = rig.simulator("COM7", "--speed", "6")
    fast = rig.simulator("COM8", "--speed", "0")
    server = rig.server({"test/optivane/1": {"Port": "COM7", "PollPeriodMs": 50, "TimeoutMs": 10000},
                         "test/optivane/2": {"Port": "COM8", "PollPeriodMs": 50}})
    one, two = server.proxy("test/optivane/1"), server.proxy("test/optivane/2")
    for device in (one, two):
        wait_state(device, tango.DevState.ON)

    one.Angle = 30.0
    two.Angle = 10.0
    wait_state(two, tango.DevState.ON)
    assert one.state() == tango.DevState.MOVING
    wait_state(one, tango.DevState.ON)
    assert (slow.moves(), fast.moves()) == (["0ma00002EAA"], ["0ma00000F8E"])


def test_a_maintenance_routine_disables_the_device_until_stop(rig):
    sim, device = attenuator(rig)
    device.StartOptimization()
    assert device.state() == tango.DevState.DISABLE
    wait_until(lambda: "Stop ends it" in device.status(), what="the routine running")
    assert device.state() == tango.DevState.DISABLE
    assert refusal(lambda: device.write_attribute("Angle", 5.0)).reason == "OPTIVANE_REFUSED"
    assert refusal(device.Home).reason == "OPTIVANE_REFUSED"

    device.Stop()
    wait_state(device, tango.DevState.ON)
    device.StartCleaning()
    wait_until(lambda: "Stop ends it" in device.status(), what="the cleaning running")
    device.Stop()
    wait_state(device, tango.DevState.ON)
    requests = sim.requests()
    assert "0st" in requests[requests.index("0om"):requests.index("0cm")]
    assert "0st" in requests[requests.index("0cm"):]
    assert sim.moves() == [] and "0ho0" not in requests


def test_home_moves_to_the_home_position_and_reconnect_connects_again(rig):
    sim, device = attenuator(rig, "--speed", "40", "--position", "8000")
    device.Home()
    assert device.state() == tango.DevState.MOVING
    wait_until(lambda: device.state() == tango.DevState.ON and device.Steps == 0, what="home")
    assert "0ho0" in sim.requests()

    handshakes = sim.requests().count("0in")
    device.Reconnect()
    wait_until(lambda: sim.requests().count("0in") > handshakes, what="a new handshake")
    wait_state(device, tango.DevState.ON)
