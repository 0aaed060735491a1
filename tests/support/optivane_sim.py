"""optivane-sim for the tests that Python drives: one simulator registered under a COM name in the port
folder of its environment's XDG_DATA_HOME, with its control socket and transcript. stop() ends it, and it
also gets SIGTERM when the test process dies, even by a crash.

The bench: Simulator(program, port, args=["--true-offset-deg", "-3.7", "--noise", "0.002", "--seed", "1"],
meter="thorlabs") also runs a power meter of that dialect (thorlabs, newport, ophir, gentec) on a second
terminal, linked at meter_path in the simulator's folder, and on a TCP socket of 127.0.0.1. Then
meter_address("usbtmc" | "serial" | "tcp") is the address to open it by, meter_control("silent on") sends a
meter control ("meter silent on"; also garbage|over on|off, hangup, hangup next, reopen, delay MS),
true_power() is the power at the meter now in watts without noise, and meter_queries() the queries it got."""

import ctypes
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time

START_S = 15.0
PR_SET_PDEATHSIG = 1


def end_with_parent():
    """Runs in the child before exec."""
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
    def __init__(self, program, port, args=(), env=None, meter=None):
        self.port = port
        # A short folder of its own: a socket's path has room for about a hundred characters.
        self.folder = tempfile.mkdtemp(prefix="optivane-sim-", dir="/tmp")
        self.control_path = os.path.join(self.folder, "control.sock")
        self.transcript_path = os.path.join(self.folder, "transcript.log")
        self.meter_path = os.path.join(self.folder, "meter") if meter else None
        self.meter_tcp = None
        bench = ["--meter-port", self.meter_path, "--meter-kind", meter,
                 "--meter-listen", "127.0.0.1:0"] if meter else []
        self.process = subprocess.Popen(
            [program, "--port", port, "--control", self.control_path, "--transcript", self.transcript_path,
             "--no-baud-delay", *bench, *[str(a) for a in args]],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            preexec_fn=end_with_parent)
        # Its first line is the terminal's path, once it is ready; it writes nothing more unless it fails.
        ready, _, _ = select.select([self.process.stdout], [], [], START_S)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("/"):
            self.stop()
            raise RuntimeError("optivane-sim did not start: " + line)
        self.pty = line.strip()
        if meter:
            # "meter PATH" and "meter-tcp HOST:PORT" come right after, written at once with the first line.
            for _ in range(2):
                words = self.process.stdout.readline().split()
                if words and words[0] == "meter-tcp":
                    self.meter_tcp = words[1]
            if not self.meter_tcp:
                self.stop()
                raise RuntimeError("optivane-sim reported no meter socket")

    def control(self, command):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(START_S)
            s.connect(self.control_path)
            s.sendall((command + "\n").encode())
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(512)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def meter_address(self, transport="usbtmc"):
        """The meter's address: "usbtmc:LINK", "serial:LINK:115200" or "tcp:127.0.0.1:PORT"."""
        if transport == "tcp":
            return "tcp:" + self.meter_tcp
        return "serial:" + self.meter_path + ":115200" if transport == "serial" else "usbtmc:" + self.meter_path

    def meter_control(self, command):
        return self.control("meter " + command)

    def true_power(self):
        answer = self.control("get power")
        if not answer.startswith("ok "):
            raise RuntimeError("get power: " + answer)
        return float(answer[3:])

    def meter_queries(self):
        """The queries the meter received, in order (transcript lines "<seconds> M> <bytes>")."""
        return self._marked(" M> ")

    def _marked(self, mark):
        try:
            with open(self.transcript_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [line.split(mark, 1)[1] for line in lines if mark in line]

    def requests(self):
        """The request lines the device received, in order (transcript lines "<seconds> > <bytes>")."""
        try:
            with open(self.transcript_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [line.split(" > ", 1)[1] for line in lines if " > " in line]

    def moves(self):
        return [r for r in self.requests() if r.startswith("0ma")]

    def wait_for(self, predicate, what, timeout=10.0):
        deadline = time.monotonic() + timeout
        while not predicate():
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + what)
            time.sleep(0.005)

    def stop(self):
        end_process(self.process)
        self.process.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)
