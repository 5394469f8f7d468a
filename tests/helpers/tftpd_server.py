#!/usr/bin/env python3
"""Runs in.tftpd in the foreground on a free 127.0.0.1 port for one test file.

Usage: tftpd_server.py ROOT [LIFETIME_SECONDS]

Prints "port N" once the server answers, then waits until its standard input
closes (the test is done) or the lifetime runs out, and stops the server.
A test process that dies therefore never leaves a server behind.
"""
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import time

TFTPD = "/usr/sbin/in.tftpd"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    """True once the server replies to a read request for a missing file."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        req = struct.pack("!H", 1) + b"no-such-probe-file\0octet\0"
        s.sendto(req, ("127.0.0.1", port))
        try:
            s.recvfrom(1024)
            return True
        except OSError:
            return False


def start(root):
    user = ["-u", "root"] if os.geteuid() == 0 else []
    for _ in range(5):
        port = free_port()
        proc = subprocess.Popen([TFTPD, "-L", "-4", "-a", f"127.0.0.1:{port}", "-s", root,
                                 "-c", "-p", "-U", "022"] + user,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        for _ in range(25):
            if proc.poll() is not None:
                break
            if answers(port):
                return proc, port
        stop(proc)
    sys.exit("in.tftpd did not start")


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(2)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def main():
    root = os.path.abspath(sys.argv[1])
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 300.0
    proc, port = start(root)
    signal.signal(signal.SIGTERM, lambda *_: (stop(proc), sys.exit(0)))
    print(f"port {port}", flush=True)
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline and proc.poll() is None:
        ready, _, _ = select.select([sys.stdin], [], [], 1.0)
        if ready and not sys.stdin.buffer.read1(4096):
            break
    stop(proc)


if __name__ == "__main__":
    main()
