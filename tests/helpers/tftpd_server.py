#!/usr/bin/env python3
"""Runs in.tftpd on a free 127.0.0.1 port for one test file.

Usage: tftpd_server.py ROOT [LIFETIME_SECONDS]

Prints "port N" once the server answers a read request for a missing file;
see real_server.py for how it stops.
"""
import os
import struct
import sys

from real_server import serve

PROBE = struct.pack("!H", 1) + b"no-such-probe-file\0octet\0"


def main():
    root = os.path.abspath(sys.argv[1])
    user = ["-u", "root"] if os.geteuid() == 0 else []
    command = lambda port: ["/usr/sbin/in.tftpd", "-L", "-4", "-a", f"127.0.0.1:{port}", "-s", root,
                            "-c", "-p", "-U", "022"] + user
    serve("in.tftpd", command, PROBE, float(sys.argv[2]) if len(sys.argv) > 2 else 300.0)


if __name__ == "__main__":
    main()
