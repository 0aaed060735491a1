"""optivane-sim for the tests that Python drives: one simulator registered under a COM name in the port
folder of its environment's XDG_DATA_HOME, with its control socket and transcript. stop() ends it, and it
also gets SIGTERM when the test process dies, even by a crash."""

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
    def __init__(self, program, port, args=(), env=None):
        self.port = port
        # A short folder of its own: a socket's path has room for about a hundred characters.
        self.folder = tempfile.mkdtemp(prefix="optivane-sim-", dir="/tmp")
        self.control_path = os.path.join(self.folder, "control.sock")
        self.transcript_path = os.path.join(self.folder, "transcript.log")
        self.process = subprocess.Popen(
            [program, "--port", port, "--control", self.control_path, "--transcript", self.transcript_path,
             "--no-baud-delay", *[str(a) for a in args]],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            preexec_fn=end_with_parent)
        # Its first line is the terminal's path, once it is ready; it writes nothing more unless it fails.
        ready, _, _ = select.select([self.process.stdout], [], [], START_S)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("/"):
            self.stop()
            raise RuntimeError("optivane-sim did not start: " + line)
        self.pty = line.strip()

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
