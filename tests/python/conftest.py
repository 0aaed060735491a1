"""Fixtures of the scripting front ends' tests: private XDG folders and a simulator per test.

The build passes OPTIVANE_SIM (the simulator) and, for the command-line tests, OPTIVANE_CLI.
"""

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "support"))
from optivane_sim import Simulator  # noqa: E402

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


@pytest.fixture
def start_sim(xdg):
    """start_sim(*args) starts a simulator on COM5; every one started is ended after the test."""
    started = []

    def start(*args):
        # The motor arrives at once unless a test asks for a speed.
        sim = Simulator(os.environ["OPTIVANE_SIM"], PORT, ["--speed", "0", *args])
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(start_sim):
    return start_sim()
