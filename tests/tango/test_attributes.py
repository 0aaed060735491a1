"""Attributes of the Optivane device: what each read and write does at the device, the refusals that
send nothing, change events, and where the server listens."""

import math
import subprocess

import pytest
import tango

from conftest import SERVER, attenuator, wait_state, wait_until


def test_every_attribute_reads_and_writes_through_the_device(rig):
    # Polls far apart: what a read returns comes from the read itself.
    sim, device = attenuator(rig, "--offset-steps", "3982", RangeMax=0.9, PollPeriodMs=60000)

    assert device.SerialNumber == "OV240117"
    assert device.YearOfManufacture == "2024"
    assert device.MechanicalOffset == pytest.approx(10.0, abs=0.001)
    assert (device.DeviceStatus, device.DeviceStatusText) == (0, "Ok")

    assert sim.control("set position 12942") == "ok"
    assert device.Steps == 12942
    assert device.Angle == pytest.approx(32.49944, abs=1e-4)
    assert device.Transmittance == pytest.approx(0.82138, abs=1e-4)
    assert device.AttenuationDb == pytest.approx(-10 * math.log10(device.Transmittance), abs=1e-4)

    writes = [
        ("Transmittance", 0.5, "0ma00002300"),
        ("AttenuationDb", 10.0, "0ma00000E56"),
        ("Angle", 10.0, "0ma00000F8E"),
        ("Steps", 1000, "0ma1000"),
    ]
    for name, value, request in writes:
        device.write_attribute(name, value)
        wait_state(device, tango.DevState.ON)
        assert sim.moves()[-1] == request, name
        assert device.read_attribute(name).value == pytest.approx(value, rel=1e-3), name

    config = {name: device.get_attribute_config(name)
              for name in ("Transmittance", "AttenuationDb", "Angle", "Steps", "MechanicalOffset")}
    assert (config["Transmittance"].min_value, config["Transmittance"].max_value) == ("0", "0.9")
    assert float(config["AttenuationDb"].min_value) == pytest.approx(-10 * math.log10(0.9), abs=1e-6)
    assert config["AttenuationDb"].unit == "dB"
    assert (config["Angle"].unit, config["Angle"].min_value, config["Angle"].max_value) == ("deg", "-360", "360")
    assert (config["Steps"].unit, config["Steps"].format) == ("steps", "%d")
    assert config["MechanicalOffset"].unit == "deg"


def test_values_that_may_not_be_sent_are_refused_and_nothing_moves(rig):
    sim, device = attenuator(rig, "--speed", "0", RangeMin=0.3, RangeMax=0.7)
    refused = [
        ("Transmittance", 0.9, "API_WAttrOutsideLimit"),
        ("Transmittance", 0.05, "API_WAttrOutsideLimit"),
        ("Transmittance", math.nan, "API_WAttrOutsideLimit"),
        ("AttenuationDb", 0.5, "API_WAttrOutsideLimit"),
        ("Angle", 360.0, "OPTIVANE_REFUSED"),
        ("Angle", 400.0, "API_WAttrOutsideLimit"),
        ("Steps", 143361, "API_WAttrOutsideLimit"),
    ]
    for name, value, reason in refused:
        with pytest.raises(tango.DevFailed) as failure:
            device.write_attribute(name, value)
        assert failure.value.args[0].reason == reason, (name, value)
        assert device.state() == tango.DevState.ON
    polls = len(sim.requests())
    wait_until(lambda: len(sim.requests()) > polls + 2, what="another poll")
    assert sim.moves() == []

    # The attenuation limits as the configuration shows them are accepted: they are the permitted range.
    for limit in ("min_value", "max_value"):
        device.AttenuationDb = float(getattr(device.get_attribute_config("AttenuationDb"), limit))
        wait_state(device, tango.DevState.ON)
    assert len(sim.moves()) == 2


def test_change_events_reach_a_subscribed_client(rig):
    sim, device = attenuator(rig, "--speed", "40")
    received = {name: [] for name in ("State", "Transmittance", "Angle", "Steps", "DeviceStatus")}

    def keeper(name):
        def keep(event):
            if not event.err:
                received[name].append(event.attr_value.value)
        return keep

    subscriptions = [device.subscribe_event(name, tango.EventType.CHANGE_EVENT, keeper(name)) for name in received]
    try:
        wait_until(lambda: all(received.values()), what="the first event of each attribute")
        device.Angle = 20.0
        wait_until(lambda: tango.DevState.ON in received["State"][received["State"].index(tango.DevState.MOVING):]
                   if tango.DevState.MOVING in received["State"] else False, what="MOVING then ON")
        wait_until(lambda: received["Angle"][-1] == pytest.approx(20.0, abs=0.01), what="the new angle")
        assert received["Steps"][-1] == 7964
        assert received["Transmittance"][-1] == pytest.approx(device.Transmittance)
        sim.control("set status 11")
        wait_until(lambda: received["DeviceStatus"][-1] == 11, what="the device status")
    finally:
        for subscription in subscriptions:
            device.unsubscribe_event(subscription)


def listening_addresses(pid):
    """Local addresses of the process's listening TCP sockets."""
    inodes = set()
    for fd in (p for p in __import__("os").listdir(f"/proc/{pid}/fd")):
        try:
            target = __import__("os").readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    addresses = []
    for table in ("tcp", "tcp6"):
        with open(f"/proc/{pid}/net/{table}") as f:
            for line in f.read().splitlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:  # LISTEN
                    addresses.append(fields[1].split(":")[0])
    return addresses


def test_the_server_listens_on_loopback_only_unless_told_otherwise(rig):
    rig.simulator("COM7")
    server = rig.server({"test/optivane/1": {"Port": "COM7"}})
    server.proxy("test/optivane/1").subscribe_event("State", tango.EventType.CHANGE_EVENT,
                                                    tango.utils.EventCallback())
    addresses = listening_addresses(server.process.pid)
    # The request port and the event ports; 0100007F is 127.0.0.1.
    assert len(addresses) >= 2
    assert set(addresses) == {"0100007F"}

    wildcard = subprocess.run([SERVER, "test", f"-file={server.file}", "-ORBendPoint", "giop:tcp::0"],
                              env=rig.env, capture_output=True, text=True, timeout=30)
    assert wildcard.returncode == 2
    assert "--network" in wildcard.stderr
