"""Fixtures for the Tango server's tests: simulators and optivane-tango servers on ports chosen at
run time, in private XDG folders, each ended when its test ends (also on failure)."""

import ctypes
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import pytest
import tango

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


PR_SET_PDEATHSIG = 1


def end_with_parent():
    """Runs in the child before exec: it gets SIGTERM when the test process dies, even by a crash."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def end_process(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Simulator:
    """optivane-sim registered as a COM port, with its control socket and transcript."""

    def __init__(self, folder, sockets, env, port, args):
        self.port = port
        self.control_path = os.path.join(sockets, f"{port}.sock")
        self.transcript_path = str(folder / f"{port}.log")
        self.process = subprocess.Popen(
            [SIM, "--port", port, "--control", self.control_path, "--transcript", self.transcript_path,
             "--no-baud-delay", *args],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            preexec_fn=end_with_parent)
        # Its first line is the terminal's path, once it is ready; it writes nothing more unless it fails.
        ready, _, _ = select.select([self.process.stdout], [], [], WAIT_S)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("/"):
            end_process(self.process)
            raise RuntimeError("optivane-sim did not start: " + line)

    def control(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(WAIT_S)
            s.connect(self.control_path)
            s.sendall((line + "\n").encode())
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(512)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def requests(self):
        """The request lines of the transcript, in order ("<seconds> > <bytes>")."""
        try:
            with open(self.transcript_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [line.split(" > ", 1)[1] for line in lines if " > " in line]

    def moves(self):
        return [r for r in self.requests() if r.startswith("0ma")]


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
        # A Unix socket's path has room for about a hundred characters, fewer than a test's folder may take.
        self.sockets = tempfile.mkdtemp(prefix="ovt-", dir="/tmp")
        self.processes = []

    def simulator(self, port="COM7", *args):
        sim = Simulator(self.folder, self.sockets, self.env, port, args)
        self.processes.append(sim.process)
        return sim

    def server(self, devices, extra_args=()):
        server = Server(self.folder, self.env, devices, extra_args)
        self.processes.append(server.process)
        return server

    def close(self):
        """Ends every process; the servers' exit statuses, 0 for a clean end (a sanitizer's finding is not)."""
        # Servers before simulators, so that no server sees its port go.
        for process in reversed(self.processes):
            end_process(process)
        shutil.rmtree(self.sockets, ignore_errors=True)
        return [process.returncode for process in self.processes if process.args[0] == SERVER]


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


def wait_state(device, state):
    wait_until(lambda: device.state() == state, what=str(state))
