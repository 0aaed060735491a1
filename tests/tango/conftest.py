"""Fixtures for the Tango server's tests: simulators and optivane-tango servers on ports chosen at
run time, in private XDG folders, each ended when its test ends (also on failure)."""

import os
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest
import tango

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "support"))
from optivane_sim import Simulator, end_process, end_with_parent  # noqa: E402

SIM = os.environ.get("OPTIVANE_SIM", "optivane-sim")
SERVER = os.environ.get("OPTIVANE_TANGO", "optivane-tango")
WAIT_S = 15.0


def wait_until(condition, timeout=WAIT_S, what="condition"):
    """Polls condition until it returns something true; fails the test at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(0.01)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """optivane-tango with its devices' properties in a Tango property file."""

    def __init__(self, folder, env, devices, extra_args=()):
        self.file = folder / "optivane.db"
        lines = ['optivane-tango/test/DEVICE/Optivane: ' + ", ".join(f'"{name}"' for name in devices)]
        for name, properties in devices.items():
            lines += [f"{name}->{key}: {value}" for key, value in properties.items()]
        self.file.write_text("\n".join(lines) + "\n")
        self.output = folder / "optivane-tango.out"
        # The port is free when chosen; a server that loses it to another process is started again.
        for _ in range(5):
            self.port = free_port()
            with open(self.output, "wb") as output:
                self.process = subprocess.Popen(
                    [SERVER, "test", f"-file={self.file}", "-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}",
                     *extra_args],
                    env=env, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                    preexec_fn=end_with_parent)
            if self._wait_ready(devices):
                return
            end_process(self.process)
        raise RuntimeError("optivane-tango did not start: " + self.output.read_text(errors="replace"))

    def _wait_ready(self, names):
        """Every device answers; the server exports them one after the other."""
        deadline = time.monotonic() + WAIT_S
        waiting = list(names)
        while waiting and time.monotonic() < deadline and self.process.poll() is None:
            try:
                self.proxy(waiting[0]).ping()
                waiting.pop(0)
            except tango.DevFailed:
                time.sleep(0.05)
        return not waiting

    def proxy(self, name):
        return tango.DeviceProxy(f"tango://127.0.0.1:{self.port}/{name}#dbase=no")


class Rig:
    def __init__(self, folder):
        self.folder = folder
        self.env = dict(os.environ)
        for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"):
            path = folder / name.lower()
            path.mkdir(mode=0o700)
            self.env[name] = str(path)
        self.simulators = []
        self.servers = []

    def simulator(self, port="COM7", *args):
        sim = Simulator(SIM, port, args, self.env)
        self.simulators.append(sim)
        return sim

    def server(self, devices, extra_args=()):
        server = Server(self.folder, self.env, devices, extra_args)
        self.servers.append(server)
        return server

    def close(self):
        """Ends every process; the servers' exit statuses, 0 for a clean end (a sanitizer's finding is not)."""
        # Servers before simulators, so that no server sees its port go.
        for server in reversed(self.servers):
            end_process(server.process)
        for sim in self.simulators:
            sim.stop()
        return [server.process.returncode for server in self.servers]


@pytest.fixture
def rig(tmp_path):
    r = Rig(tmp_path)
    yield r
    statuses = r.close()
    assert all(status == 0 for status in statuses), \
        f"optivane-tango did not end cleanly: {statuses}\n" + "".join(
            path.read_text(errors="replace") for path in tmp_path.glob("optivane-tango.out"))


def attenuator(rig, *sim_args, **properties):
    """One simulator and one server with one device on it; returns (sim, proxy) once the device is ON."""
    sim = rig.simulator("COM7", *sim_args)
    server = rig.server({"test/optivane/1": {"Port": "COM7", "PollPeriodMs": 50, **properties}})
    device = server.proxy("test/optivane/1")
    wait_until(lambda: device.state() == tango.DevState.ON, what="ON")
    return sim, device


def attenuator_with_meter(rig, *sim_args, **properties):
    """As attenuator, with the simulator's bench meter (its beam behind the attenuator) on a TCP port of its
    own and the device's Meter property pointing at it."""
    sim = rig.simulator("COM7", "--meter-listen", "127.0.0.1:0", *sim_args)
    address = sim.control("get meter-tcp").split()[1]
    server = rig.server({"test/optivane/1": {"Port": "COM7", "PollPeriodMs": 50, "Meter": f"tcp:{address}",
                                             **properties}})
    device = server.proxy("test/optivane/1")
    wait_until(lambda: device.state() == tango.DevState.ON, what="ON")
    return sim, device


def wait_state(device, state):
    wait_until(lambda: device.state() == state, what=str(state))
