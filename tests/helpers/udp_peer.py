#!/usr/bin/env python3
"""A UDP peer on 127.0.0.1 that is not a zemko interface, for the udp media tests.

usage: udp_peer.py TARGET_PORT MODE
  Binds 127.0.0.1 on a port the system chooses and prints that port.
  echo: sends b"hello" to TARGET_PORT, waits for one datagram, answers its
        sender with b"ack:" + the datagram and prints "got <hex> from <port>".
  eof:  sends a zero-length datagram, then b"late", to TARGET_PORT.
The peer never runs longer than its watchdog (20 s), whatever the test does.
"""
import signal
import socket
import sys


def main():
    target = int(sys.argv[1])
    mode = sys.argv[2] if len(sys.argv) > 2 else "echo"
    signal.alarm(20)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(10)
    print(s.getsockname()[1], flush=True)
    dest = ("127.0.0.1", target)
    if mode == "eof":
        s.sendto(b"", dest)
        s.sendto(b"late", dest)
        print("done", flush=True)
        return 0
    s.sendto(b"hello", dest)
    try:
        data, sender = s.recvfrom(65535)
    except socket.timeout:
        print("timeout", flush=True)
        return 1
    s.sendto(b"ack:" + data, sender)
    print("got %s from %d" % (data.hex(), sender[1]), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
