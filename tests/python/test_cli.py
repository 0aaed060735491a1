"""The optivane command against the simulator: outputs, exit statuses and watch across a hang-up."""

import json
import os
import select
import signal
import subprocess
import time

import pytest

from conftest import PORT, write_settings

CLI = os.environ.get("OPTIVANE_CLI", "optivane")
OK, DEVICE_STATUS, USAGE, LINK = 0, 1, 2, 3


def run(*args, env=None):
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, timeout=60, env=env)


def test_ports_info_status_and_get(sim):
    assert run("ports").stdout == f"{PORT}  {sim.pty}\n"
    assert json.loads(run("ports", "--json").stdout) == [{"port": PORT, "device": sim.pty}]

    info = json.loads(run("info", PORT, "--json").stdout)
    assert (info["serial_number"], info["td"], info["ppd"], info["offset_deg"], info["span_deg"],
            info["range_min"], info["range_max"], info["settings_file"]) == ("OV240117", 360, 143360, 0, 45, 0, 1, None)

    status = run("status", PORT)
    assert (status.returncode, status.stdout) == (OK, f"{PORT}: Ok (0)\n")

    sim.control("set position 8960")
    got = run("get", PORT)
    assert got.returncode == OK
    assert "percent        50.0000 %" in got.stdout and "attenuation    3.0103 dB" in got.stdout
    assert json.loads(run("get", PORT, "--json").stdout) == {
        "port": PORT, "transmittance": 0.5, "percent": 50.0, "attenuation_db": pytest.approx(3.0103, abs=1e-4),
        "angle_deg": 22.5, "steps": 8960}


@pytest.mark.parametrize("value, request_sent", [
    ("0.5", "0ma00002300"),
    ("50%", "0ma00002300"),
    ("3.0103dB", "0ma00002300"),
    ("22.5deg", "0ma00002300"),
    ("8960steps", "0ma8960"),
])
def test_set_takes_every_unit(sim, value, request_sent):
    result = run("set", PORT, value, "--json")
    assert result.returncode == OK, result.stderr
    assert request_sent in sim.requests()
    assert json.loads(result.stdout)["steps"] == 8960


def test_the_settings_file_range_and_its_overrides(sim, xdg):
    write_settings(xdg, PORT, json.dumps(
        {"offset_degree": 10, "transmittance_range_min": 0.1, "transmittance_range_max": 0.9}))
    assert run("set", PORT, "50%").returncode == OK
    assert sim.requests()[-4] == "0ma0000328E"
    assert run("set", PORT, "50%", "--offset", "0").returncode == OK
    assert sim.requests()[-4] == "0ma00002300"

    sent = len(sim.requests())
    refused = run("set", PORT, "95%")
    assert refused.returncode == USAGE and refused.stdout == ""
    assert refused.stderr == (f"optivane: {PORT}: transmittance 0.95 is outside the permitted range 0.1 to 0.9 "
                              f"(from {xdg}/Korvan. Inc/Luxora/cfg_{PORT}.json); clamp to move to the nearest "
                              "permitted value\n")
    assert len(sim.requests()) == sent
    clamped = run("set", PORT, "95%", "--clamp", "--json")
    assert json.loads(clamped.stdout)["transmittance"] == pytest.approx(0.9, abs=1e-4)


# The simulated device runs its maintenance routines for minutes and answers their start Busy.
@pytest.mark.parametrize("command, request_sent, status, text", [
    ("home", "0ho0", 0, "Ok"), ("stop", "0st", 0, "Ok"), ("optimize", "0om", 9, "Busy"), ("clean", "0cm", 9, "Busy")])
def test_routines(sim, command, request_sent, status, text):
    result = run(command, PORT, "--json")
    assert (result.returncode, json.loads(result.stdout)) == (OK, {"port": PORT, "status": status, "text": text})
    assert sim.requests()[-1] == request_sent


def test_exit_statuses_and_their_one_line(start_sim, xdg):
    missing = run("get", PORT)
    assert (missing.returncode, missing.stdout) == (LINK, "")
    assert missing.stderr == f"optivane: {PORT}: no such port (no entry in {xdg}/optivane/ports)\n"

    sim = start_sim()
    sim.control("set status 9")
    busy = run("status", PORT, "--json")
    assert (busy.returncode, json.loads(busy.stdout)["text"]) == (DEVICE_STATUS, "Busy")
    assert busy.stderr == f"optivane: {PORT}: status: Busy (9)\n"
    sim.control("set status 0")

    for args in (["frobnicate", PORT], ["get"], ["set", PORT, "lots"], ["set", PORT, "50"], ["get", PORT, "--count", "2"],
                 ["set", PORT, "1000deg"]):
        result = run(*args)
        assert result.returncode == USAGE, args
        assert result.stderr.startswith("optivane: ") and result.stderr.count("\n") == 1, result.stderr


def test_every_subcommand_has_help_and_the_program_its_version():
    version = run("--version")
    assert version.returncode == OK and version.stdout.startswith("optivane ") and version.stdout[9].isdigit()
    overall = run("--help")
    assert overall.returncode == OK
    for command in ("ports", "info", "status", "get", "set", "home", "stop", "optimize", "clean", "watch", "share"):
        assert f"\n  {command} " in overall.stdout
        # Whatever follows share is the sharing program's own command line.
        result = run("help", command) if command == "share" else run(command, "--help")
        assert result.returncode == OK and result.stdout.startswith(f"Usage: optivane {command}")


def test_a_port_in_use(sim):
    holder = subprocess.Popen([CLI, "watch", PORT, "--interval", "0.05"], stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline()  # connected and reading
        busy = run("get", PORT)
        assert (busy.returncode, busy.stderr) == (LINK, f"optivane: {PORT}: in use by another program\n")
    finally:
        holder.terminate()
        holder.wait(10)


def test_share_runs_the_sharing_program(tmp_path):
    env = dict(os.environ, PATH=str(tmp_path))
    absent = run("share", "--port", PORT, env=env)
    assert absent.returncode == USAGE and "optivane-share" in absent.stderr
    share = tmp_path / "optivane-share"
    share.write_text('#!/bin/sh\necho "$0 $*"\n')
    share.chmod(0o755)
    present = run("share", "--port", PORT, "--help", env=env)
    assert (present.returncode, present.stdout.split(" ", 1)[1]) == (OK, f"--port {PORT} --help\n")


class Lines:
    """A child's output read line by line with a deadline."""

    def __init__(self, stream):
        self.stream = stream

    def until(self, predicate, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            assert left > 0, "timed out"
            ready, _, _ = select.select([self.stream], [], [], left)
            if ready:
                line = self.stream.readline()
                assert line, "output ended"
                if predicate(line):
                    return line


def test_watch_survives_a_hang_up_and_stops_on_ctrl_c(sim):
    watch = subprocess.Popen([CLI, "watch", PORT, "--json", "--interval", "0.05"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        out, err = Lines(watch.stdout), Lines(watch.stderr)
        first = json.loads(out.until(lambda line: True))
        assert (first["port"], first["steps"]) == (PORT, 0) and "time" in first
        sim.control("hangup")
        assert "line lost (Serial closed); waiting for the port to return" in err.until(lambda line: True)
        sim.control("set position 8960")
        sim.control("reopen")
        assert err.until(lambda line: True) == f"optivane: {PORT}: port back\n"
        assert json.loads(out.until(lambda line: True))["steps"] == 8960
        watch.send_signal(signal.SIGINT)
        assert watch.wait(10) == OK
    finally:
        if watch.poll() is None:
            watch.kill()
            watch.wait()
