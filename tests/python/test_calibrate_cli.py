"""optivane calibrate and optivane calibration against the simulator's bench: one calibration per meter
dialect and transport, the refusals, --apply, and Ctrl-C in the middle of a sweep."""

import json
import os
import signal
import subprocess
import time

import pytest

from conftest import PORT, write_settings

CLI = os.environ.get("OPTIVANE_CLI", "optivane")
USAGE, LINK, REFUSED, CANCELLED = 2, 3, 4, 130
TRUE_OFFSET = -3.7
BENCH = ["--true-offset-deg", TRUE_OFFSET, "--noise", 0.002, "--seed", 1, "--laser-mw", 10,
         "--insertion-loss-db", 0.4, "--extinction-db", 30]
QUICK = ["--points", 24, "--average", 2, "--settle", 0]


def run(*args):
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, timeout=120)


def start_bench(start_sim, kind, *extra):
    sim = start_sim("--meter-port", "COM6", "--meter-kind", kind, *BENCH, *extra)
    sim.control("set position 5000")
    return sim


def spawn(*args):
    return subprocess.Popen([CLI, *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def meter_address(sim, transport):
    if transport == "tcp":
        return "tcp:" + sim.control("get meter-tcp").split()[1]
    path = sim.control("get meter-pty").split()[1]
    return f"usbtmc:{path}" if transport == "usbtmc" else f"serial:{path}:115200"


@pytest.mark.parametrize("kind, transport, identity, wavelength", [
    ("thorlabs", "usbtmc", "THORLABS,PM100D", 1550.0),
    ("thorlabs", "tcp", "THORLABS,PM100D", 1550.0),
    ("newport", "serial", "NEWPORT", 1550.0),
    ("ophir", "serial", "NOVA", 0.0),
    ("gentec", "serial", "Maestro", 0.0),
])
def test_one_calibration_per_dialect(start_sim, xdg, kind, transport, identity, wavelength):
    extra = ["--meter-listen", "127.0.0.1:0"] if transport == "tcp" else []
    sim = start_bench(start_sim, kind, *extra)
    # Meters without a wavelength setting keep none unless one is given.
    given = ["--wavelength", 1550] if wavelength else []
    result = run("calibrate", PORT, "--meter", meter_address(sim, transport), "--meter-kind", kind, *given, *QUICK,
                 "--json")
    assert result.returncode == 0, result.stderr
    out = json.loads(result.stdout)
    assert out["offset_deg"] == pytest.approx(TRUE_OFFSET, abs=0.05)
    assert out["pmax_w"] == pytest.approx(0.010 * 10 ** -0.04, rel=0.01)
    assert out["extinction_db"] == pytest.approx(30, abs=1.5)
    assert 0 < out["offset_uncertainty_deg"] < 0.05 and out["residual_rms"] < 0.01
    assert identity in out["meter"]
    assert (out["wavelength_nm"], out["points"], out["serial_number"]) == (wavelength, 24, "OV240117")
    assert sim.control("get position") == "ok 5000"
    listed = json.loads(run("calibration", "--json").stdout)
    assert [(e["serial_number"], e["wavelength_nm"], e["offset_deg"]) for e in listed] == [
        ("OV240117", wavelength, out["offset_deg"])]


def test_apply_plot_and_csv(start_sim, xdg, tmp_path):
    settings = write_settings(xdg, PORT, json.dumps({
        "device_alias": "bench B", "offset_degree": 1.5, "presets": [10, 50],
        "transmittance_range_min": 0, "transmittance_range_max": 1, "dark_mode": True}))
    sim = start_bench(start_sim, "thorlabs")
    plot, csv = tmp_path / "cal.svg", tmp_path / "cal.csv"
    result = run("calibrate", PORT, "--meter", meter_address(sim, "usbtmc"), *QUICK, "--apply",
                 "--plot", plot, "--csv", csv)
    assert result.returncode == 0, result.stderr
    assert f"luxora takes it at its next connection to {PORT}" in result.stdout
    kept = json.loads(settings.read_text())
    offset = kept.pop("offset_degree")
    assert offset == pytest.approx(TRUE_OFFSET, abs=0.05)
    assert kept == {"device_alias": "bench B", "presets": [10, 50], "transmittance_range_min": 0,
                    "transmittance_range_max": 1, "dark_mode": True}
    assert json.loads(run("info", PORT, "--json").stdout)["offset_deg"] == pytest.approx(offset, abs=1e-6)
    assert plot.read_text().startswith("<svg") and "offset" in plot.read_text()
    rows = csv.read_text().splitlines()
    assert rows[0] == "angle_deg,power_w,fit_w,residual_w" and len(rows) == 25


@pytest.mark.parametrize("fault, status, reason", [
    ("beam block", REFUSED, "calibration refused: no modulation"),
    ("meter silent on", LINK, "thorlabs meter at usbtmc:"),
    ("meter garbage on", LINK, "thorlabs meter at usbtmc:"),
])
def test_refusals_and_meter_failures_leave_the_attenuator_where_it_was(start_sim, xdg, fault, status, reason):
    sim = start_bench(start_sim, "thorlabs")
    address = meter_address(sim, "usbtmc")
    if fault.startswith("meter"):
        # The meter fails in the middle of the sweep, after its identity was read.
        process = spawn("calibrate", PORT, "--meter", address, "--points", 24, "--settle", 0.05)
        sim.wait_for(lambda: len(sim.moves()) >= 4, "the sweep's first moves")
        sim.control(fault)
        _, stderr = process.communicate(timeout=60)
        returncode = process.returncode
    else:
        sim.control(fault)
        result = run("calibrate", PORT, "--meter", address, *QUICK)
        returncode, stderr = result.returncode, result.stderr
    assert returncode == status, stderr
    assert reason in stderr and "the attenuator is back where it was" in stderr
    assert sim.control("get position") == "ok 5000"
    assert run("calibration", "--json").stdout == "[]\n"


def test_a_narrow_permitted_range_needs_full_range(start_sim, xdg):
    write_settings(xdg, PORT, json.dumps({"transmittance_range_min": 0.1, "transmittance_range_max": 0.9}))
    sim = start_bench(start_sim, "thorlabs")
    moves = len(sim.moves())
    refused = run("calibrate", PORT, "--meter", meter_address(sim, "usbtmc"), *QUICK)
    assert refused.returncode == USAGE and "permitted range is 0.1 to 0.9" in refused.stderr
    assert "--full-range" in refused.stderr and len(sim.moves()) == moves
    assert run("calibrate", PORT, "--meter", meter_address(sim, "usbtmc"), *QUICK, "--full-range").returncode == 0


def test_ctrl_c_returns_the_attenuator_to_its_start(start_sim, xdg):
    sim = start_bench(start_sim, "thorlabs")
    process = spawn("calibrate", PORT, "--meter", meter_address(sim, "usbtmc"), "--settle", 0.05)
    sim.wait_for(lambda: len(sim.moves()) >= 6, "the sweep under way")
    started = time.monotonic()
    process.send_signal(signal.SIGINT)
    _, stderr = process.communicate(timeout=30)
    assert time.monotonic() - started < 2.0
    assert process.returncode == CANCELLED, stderr
    assert "calibration cancelled; the attenuator is back where it was" in stderr
    assert sim.control("get position") == "ok 5000"
    assert run("calibration", "--json").stdout == "[]\n"
