"""Fixtures of the scripting front ends' tests: private XDG folders and a simulator per test.

The build passes OPTIVANE_SIM (the simulator) and, for the command-line tests, OPTIVANE_CLI.
"""

import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

PORT = "COM5"


@pytest.fixture
def xdg(tmp_path, monkeypatch):
    """Fresh XDG folders for this test; returns the data folder."""
    folders = {}
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"):
        folder = tmp_path / name.lower()
        folder.mkdir(mode=0o700)
        monkeypatch.setenv(name, str(folder))
        folders[name] = folder
    return folders["XDG_DATA_HOME"]


def write_settings(data_home: Path, port: str, text: str) -> Path:
    """A luxora settings file for the port, where luxora keeps it."""
    folder = data_home / "Korvan. Inc" / "Luxora"
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"cfg_{port}.json"
    path.write_text(text)
    return path


class Simulator:
    """optivane-sim registered as COM5 in the test's port folder, with a control socket and a transcript."""

    def __init__(self, args):
        # A short folder of its own: a socket's path is limited to about a hundred characters.
        self.folder = Path(tempfile.mkdtemp(prefix="optivane-sim-"))
        folder = self.folder
        self.control_path = str(folder / "control.sock")
        self.transcript_path = folder / "transcript.log"
        self.process = subprocess.Popen(
            [os.environ["OPTIVANE_SIM"], "--port", PORT, "--control", self.control_path,
             "--transcript", str(self.transcript_path), "--no-baud-delay", "--speed", "0", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        line = self.process.stdout.readline().decode().strip() if ready else ""
        if not line:
            self.stop()
            raise RuntimeError("optivane-sim did not start: " + self.process.stderr.read().decode())
        self.pty = line

    def control(self, command: str) -> str:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(self.control_path)
            s.sendall(command.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(512)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def requests(self):
        """The request lines the device received, in order."""
        if not self.transcript_path.exists():
            return []
        lines = []
        for line in self.transcript_path.read_text(errors="replace").splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] == ">":
                lines.append(parts[2])
        return lines

    def wait_for(self, predicate, what: str, timeout: float = 10.0):
        deadline = time.monotonic() + timeout
        while not predicate():
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + what)
            time.sleep(0.005)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


@pytest.fixture
def start_sim(xdg):
    """start_sim(*args) starts a simulator on COM5; every one started is ended after the test."""
    started = []

    def start(*args):
        sim = Simulator([str(a) for a in args])
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(start_sim):
    return start_sim()
