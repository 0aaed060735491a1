"""Faults of the Optivane device: a lost link and its return, a device error status, and a device
whose properties cannot drive an attenuator."""

import pytest
import tango

from conftest import attenuator, wait_state


def test_a_hangup_is_a_fault_until_the_simulator_returns(rig):
    sim, device = attenuator(rig)
    assert sim.control("hangup") == "ok"
    wait_state(device, tango.DevState.FAULT)
    assert "COM7 lost" in device.status()
    assert device.read_attribute("Transmittance").quality == tango.AttrQuality.ATTR_INVALID

    assert sim.control("reopen").startswith("ok ")
    wait_state(device, tango.DevState.ON)
    assert device.read_attribute("Transmittance").quality == tango.AttrQuality.ATTR_VALID


def test_a_device_error_status_is_a_fault_with_its_text(rig):
    sim, device = attenuator(rig)
    assert sim.control("set status 11") == "ok"
    wait_state(device, tango.DevState.FAULT)
    assert (device.DeviceStatus, device.DeviceStatusText) == (11, "Motor error")
    assert "Motor error" in device.status()
    with pytest.raises(tango.DevFailed):
        device.Transmittance = 0.5

    assert sim.control("set status 0") == "ok"
    wait_state(device, tango.DevState.ON)
    assert sim.moves() == []


def test_a_device_without_a_port_is_a_fault_saying_why(rig):
    server = rig.server({"test/optivane/1": {"TimeoutMs": 100}})
    device = server.proxy("test/optivane/1")
    assert device.state() == tango.DevState.FAULT
    assert "Port" in device.status()
