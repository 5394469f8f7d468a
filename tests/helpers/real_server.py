"""Runs a Debian server in the foreground on a free 127.0.0.1 port for one test file.

`serve(name, command, probe, lifetime)` starts `command(port)` on a free port,
prints "port N" once the server answers `probe`, then waits until standard
input closes (the test is done) or the lifetime runs out, and stops the
server. A test process that dies therefore never leaves a server behind.
"""
import select
import signal
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port, probe):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        s.sendto(probe, ("127.0.0.1", port))
        try:
            s.recvfrom(2048)
            return True
        except OSError:
            return False


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(2)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def start(name, command, probe, env=None):
    for _ in range(5):
        port = free_port()
        proc = subprocess.Popen(command(port), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, env=env)
        for _ in range(50):
            if proc.poll() is not None:
                break
            if answers(port, probe):
                return proc, port
        stop(proc)
    sys.exit(f"{name} did not start")


def serve(name, command, probe, lifetime, env=None):
    proc, port = start(name, command, probe, env)
    signal.signal(signal.SIGTERM, lambda *_: (stop(proc), sys.exit(0)))
    print(f"port {port}", flush=True)
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline and proc.poll() is None:
        ready, _, _ = select.select([sys.stdin], [], [], 1.0)
        if ready and not sys.stdin.buffer.read1(4096):
            break
    stop(proc)
