#!/usr/bin/env python3
"""A scripted TFTP server on 127.0.0.1 for the paths a real server will not take.

Usage: fake_tftp.py SCENARIO [LIFETIME_SECONDS]

Prints "port N" (the request port), then one line per packet it receives:
"<socket> <opcode> <number> <text or data length>", where socket is S (the
request port), A (the transfer port) or B (a second port). Stops when its
standard input closes or the lifetime runs out.

Scenarios:
  silent       never answers
  second_port  GET: DATA 1 (512 bytes) from A; after ACK 1 a stray DATA 2 from
               B; then DATA 2 (100 bytes) from A
  illegal      GET: answers the request with an ACK
  error_mid    GET: DATA 1 (512 bytes), then ERROR 1 "Disk on fire"
  oversize     GET: DATA 1 carrying 600 bytes
  runt         GET: a 3-byte datagram
  late         GET: ignores the first request, answers the retransmission
               with DATA 1 (10 bytes)
  dup          GET: DATA 1 (512 bytes) twice, then DATA 2 (1 byte)
  put_error    PUT: ACK 0, then ERROR 3 "Disk full or allocation exceeded."
                    after DATA 1
  stranger     GET: a datagram from another address (127.0.0.2) first, then
               DATA 1 (4 bytes)
"""
import select
import socket
import struct
import sys
import time

RRQ, WRQ, DATA, ACK, ERROR = 1, 2, 3, 4, 5


def udp(addr="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, 0))
    return s


def data(block, payload):
    return struct.pack("!HH", DATA, block) + payload


def error(code, text):
    return struct.pack("!HH", ERROR, code) + text.encode() + b"\0"


class Fake:
    def __init__(self, scenario, lifetime):
        self.scenario = scenario
        self.deadline = time.monotonic() + lifetime
        self.sockets = {"S": udp(), "A": udp(), "B": udp()}
        self.client = None
        self.requests = 0
        self.step = 0

    def log(self, name, pkt):
        if len(pkt) < 4:
            print(f"{name} runt {len(pkt)}", flush=True)
            return
        op, num = struct.unpack("!HH", pkt[:4])
        rest = pkt[4:]
        if op in (RRQ, WRQ):
            text = pkt[2:].split(b"\0")[0].decode(errors="replace")
            print(f"{name} {op} 0 {text}", flush=True)
        elif op == ERROR:
            text = rest.split(b"\0")[0].decode(errors="replace")
            print(f"{name} {op} {num} {text}", flush=True)
        else:
            print(f"{name} {op} {num} {len(rest)}", flush=True)

    def send(self, name, pkt):
        self.sockets[name].sendto(pkt, self.client)

    def on_packet(self, name, pkt, sender):
        self.log(name, pkt)
        if len(pkt) < 4:
            return
        op, num = struct.unpack("!HH", pkt[:4])
        if name == "S":
            self.client = sender
            self.requests += 1
            self.on_request(op)
        elif name == "A":
            self.on_reply(op, num)

    def on_request(self, op):
        sc = self.scenario
        if sc == "silent":
            return
        if sc == "late" and self.requests == 1:
            return
        if sc == "late":
            self.send("A", data(1, b"x" * 10))
        elif sc in ("second_port", "error_mid", "dup"):
            self.send("A", data(1, b"a" * 512))
        elif sc == "illegal":
            self.send("A", struct.pack("!HH", ACK, 1))
        elif sc == "oversize":
            self.send("A", data(1, b"o" * 600))
        elif sc == "runt":
            self.send("A", b"\0\3\0")
        elif sc == "put_error":
            self.send("A", struct.pack("!HH", ACK, 0))
        elif sc == "stranger":
            other = udp("127.0.0.2")
            other.sendto(data(1, b"evil"), self.client)
            self.sockets["X"] = other
            time.sleep(0.05)
            self.send("A", data(1, b"good"))

    def on_reply(self, op, num):
        sc = self.scenario
        if sc == "second_port" and op == ACK and num == 1:
            self.send("B", data(2, b"b" * 100))
            time.sleep(0.05)
            self.send("A", data(2, b"c" * 100))
        elif sc == "error_mid" and op == ACK and num == 1:
            self.send("A", error(1, "Disk on fire"))
        elif sc == "dup" and op == ACK and num == 1 and self.step == 0:
            self.step = 1
            self.send("A", data(1, b"a" * 512))
            time.sleep(0.05)
            self.send("A", data(2, b"z"))
        elif sc == "put_error" and op == DATA:
            self.send("A", error(3, "Disk full or allocation exceeded."))

    def drain(self):
        """Logs what the client sent last before the test stopped us."""
        while True:
            ready, _, _ = select.select(list(self.sockets.values()), [], [], 0.2)
            if not ready:
                return
            for s in ready:
                pkt, _ = s.recvfrom(65536)
                self.log(next(k for k, v in self.sockets.items() if v is s), pkt)

    def run(self):
        print(f"port {self.sockets['S'].getsockname()[1]}", flush=True)
        while time.monotonic() < self.deadline:
            socks = list(self.sockets.values())
            ready, _, _ = select.select(socks + [sys.stdin], [], [], 0.5)
            for s in ready:
                if s is sys.stdin:
                    if not sys.stdin.buffer.read1(4096):
                        self.drain()
                        return
                    continue
                pkt, sender = s.recvfrom(65536)
                name = next(k for k, v in self.sockets.items() if v is s)
                self.on_packet(name, pkt, sender)


def main():
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    Fake(sys.argv[1], lifetime).run()


if __name__ == "__main__":
    main()
