#!/usr/bin/env python3
"""Runs Debian's snmpd in the foreground on a free 127.0.0.1 port for one test file.

Usage: snmpd_agent.py WORKDIR [LIFETIME_SECONDS]

The agent reads only a configuration written into WORKDIR: read community
"public", write community "private", a fixed sysContact and sysName, and
sysLocation left writable. Prints "port N" once the agent answers, then waits
until its standard input closes (the test is done) or the lifetime runs out,
and stops the agent. A test process that dies therefore never leaves an agent
behind.
"""
import os
import select
import signal
import socket
import subprocess
import sys
import time

SNMPD = "/usr/sbin/snmpd"
# GetRequest for sysDescr.0 with community "public", request-id 1.
PROBE = bytes.fromhex("302602010004067075626c6963a01902010102010002010030"
                      "0e300c06082b060102010101000500")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        s.sendto(PROBE, ("127.0.0.1", port))
        try:
            s.recvfrom(2048)
            return True
        except OSError:
            return False


def start(work):
    conf = os.path.join(work, "snmpd.conf")
    with open(conf, "w") as f:
        f.write("rocommunity public 127.0.0.1\n"
                "rwcommunity private 127.0.0.1\n"
                "sysContact tester@example.org\n"
                "sysName zemko-agent\n"
                "sysServices 72\n")
    env = dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(work, "persist"), MIBS="", MIBDIRS="/nonexistent")
    for _ in range(5):
        port = free_port()
        proc = subprocess.Popen([SNMPD, "-f", "-C", "-c", conf, "-Lf", os.path.join(work, "snmpd.log"),
                                 "-I", "-smux,mteTrigger,mteTriggerConf", f"udp:127.0.0.1:{port}"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, env=env)
        for _ in range(50):
            if proc.poll() is not None:
                break
            if answers(port):
                return proc, port
        stop(proc)
    sys.exit("snmpd did not start")


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(2)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def main():
    work = os.path.abspath(sys.argv[1])
    os.makedirs(os.path.join(work, "persist"), exist_ok=True)
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 300.0
    proc, port = start(work)
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
