#!/usr/bin/env python3
"""Runs Debian's snmpd on a free 127.0.0.1 port for one test file.

Usage: snmpd_agent.py WORKDIR [LIFETIME_SECONDS]

The agent reads only a configuration written into WORKDIR: read community
"public", write community "private", a fixed sysContact and sysName, and
sysLocation left writable. Prints "port N" once the agent answers; see
real_server.py for how it stops.
"""
import os
import sys

from real_server import serve

# GetRequest for sysDescr.0 with community "public", request-id 1.
PROBE = bytes.fromhex("302602010004067075626c6963a01902010102010002010030"
                      "0e300c06082b060102010101000500")


def main():
    work = os.path.abspath(sys.argv[1])
    os.makedirs(os.path.join(work, "persist"), exist_ok=True)
    conf = os.path.join(work, "snmpd.conf")
    with open(conf, "w") as f:
        f.write("rocommunity public 127.0.0.1\n"
                "rwcommunity private 127.0.0.1\n"
                "sysContact tester@example.org\n"
                "sysName zemko-agent\n"
                "sysServices 72\n")
    env = dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(work, "persist"), MIBS="", MIBDIRS="/nonexistent")
    command = lambda port: ["/usr/sbin/snmpd", "-f", "-C", "-c", conf, "-Lf", os.path.join(work, "snmpd.log"),
                            "-I", "-smux,mteTrigger,mteTriggerConf", f"udp:127.0.0.1:{port}"]
    serve("snmpd", command, PROBE, float(sys.argv[2]) if len(sys.argv) > 2 else 300.0, env)


if __name__ == "__main__":
    main()
