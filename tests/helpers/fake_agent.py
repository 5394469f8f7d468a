#!/usr/bin/env python3
"""A scripted SNMP version 1 agent on 127.0.0.1 for what a real agent will not do.

Usage: fake_agent.py SCENARIO [LIFETIME_SECONDS]

Prints "port N", then one line per request: "<pdu type> <request-id>
<community> <oid> ...". Stops when its standard input closes or the lifetime
runs out. Answers carry the string "fake" (a get-next: under OID.1).

Scenarios:
  silent     never answers
  noise      before the real answer sends, in turn: a truncated reply, bytes
             that are not BER, a reply with another request-id, another
             community, version 1, a request instead of a response, a reply
             from another port, and a reply longer than 2048 bytes
  status-N   answers with error-status N (1..5)
  loop       a walk whose agent answers every get-next with the same OID
  late       ignores the first copy of each request, answers the second
"""
import select
import socket
import sys
import time


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        head = bytes([tag, n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([tag, 0x80 | len(raw)]) + raw
    return head + body


def integer(v):
    return tlv(0x02, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True))


def oid_bytes(text):
    parts = [int(p) for p in text.split(".")]
    out = bytearray([parts[0] * 40 + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.append(0x80 | (p & 0x7F))
            p >>= 7
        out += bytes(reversed(chunk))
    return tlv(0x06, bytes(out))


def read(data, pos):
    tag = data[pos]
    n = data[pos + 1]
    pos += 2
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(data[pos:pos + k], "big")
        pos += k
    return tag, data[pos:pos + n], pos + n


def oid_text(body):
    parts = [body[0] // 40, body[0] % 40]
    v = 0
    for b in body[1:]:
        v = (v << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(v)
            v = 0
    return ".".join(map(str, parts))


def parse(data):
    _, msg, _ = read(data, 0)
    _, _, pos = read(msg, 0)
    _, community, pos = read(msg, pos)
    ptype, pdu, _ = read(msg, pos)
    _, rid, pos = read(pdu, 0)
    _, _, pos = read(pdu, pos)
    _, _, pos = read(pdu, pos)
    _, vbl, _ = read(pdu, pos)
    oids, pos = [], 0
    while pos < len(vbl):
        _, vb, pos = read(vbl, pos)
        _, name, _ = read(vb, 0)
        oids.append(oid_text(name))
    return ptype, int.from_bytes(rid, "big", signed=True), community, oids


def message(community, rid, status, bindings, version=0, ptype=0xA2):
    vbl = b"".join(tlv(0x30, oid_bytes(o) + v) for o, v in bindings)
    pdu = integer(rid) + integer(status) + integer(1 if status else 0) + tlv(0x30, vbl)
    return tlv(0x30, integer(version) + tlv(0x04, community) + tlv(ptype, pdu))


def main():
    scenario = sys.argv[1]
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    other.bind(("127.0.0.1", 0))
    print(f"port {sock.getsockname()[1]}", flush=True)
    deadline = time.monotonic() + lifetime
    seen = set()
    while time.monotonic() < deadline:
        ready, _, _ = select.select([sys.stdin, sock], [], [], 1.0)
        if sys.stdin in ready and not sys.stdin.buffer.read1(4096):
            break
        if sock not in ready:
            continue
        data, peer = sock.recvfrom(65536)
        ptype, rid, community, oids = parse(data)
        print(f"{ptype:02X} {rid} {community.decode()} {' '.join(oids)}", flush=True)
        value = tlv(0x04, b"fake")
        if ptype == 0xA1:
            answer = [(o + ".1", value) for o in oids]
        else:
            answer = [(o, value) for o in oids]
        good = message(community, rid, 0, answer)
        if scenario == "silent":
            continue
        if scenario == "late" and rid not in seen:
            seen.add(rid)
            continue
        if scenario == "noise":
            for junk in (good[:-3], b"\x01\x02\x03garbage", message(community, rid + 1, 0, answer),
                         message(b"other", rid, 0, answer), message(community, rid, 0, answer, version=1),
                         message(community, rid, 0, answer, ptype=0xA0)):
                sock.sendto(junk, peer)
            other.sendto(good, peer)
            sock.sendto(message(community, rid, 0, [(oids[0], tlv(0x04, b"x" * 2100))]), peer)
        if scenario.startswith("status-"):
            good = message(community, rid, int(scenario[7:]), answer)
        if scenario == "loop":
            good = message(community, rid, 0, [(oids[0] if oids[0].count(".") > 6 else oids[0] + ".1.0",
                                                tlv(0x02, b"\x07"))])
        sock.sendto(good, peer)


if __name__ == "__main__":
    main()
