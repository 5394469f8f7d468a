#!/bin/sh
# Checks the build and test dependencies; installs the missing ones when run
# as root on Debian/Ubuntu, otherwise prints the one apt-get line to run.
set -e
missing=""
need() { # package, file or command that proves it is there
    pkg=$1; shift
    for probe in "$@"; do
        case $probe in
            /*) [ -e "$probe" ] && return 0 ;;
            *) command -v "$probe" >/dev/null 2>&1 && return 0 ;;
        esac
    done
    missing="$missing $pkg"
}
need cmake cmake
need ninja-build ninja
need g++ g++
need tcl-dev /usr/include/tcl8.6/tcl.h
need tcl tclsh
need bison bison
need flex flex
need libgtest-dev /usr/include/gtest/gtest.h
need libbenchmark-dev /usr/include/benchmark/benchmark.h
need clang clang++
need libclang-rt-14-dev /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a /usr/lib/llvm-14/lib/clang/14/lib/linux/libclang_rt.fuzzer-x86_64.a
need python3 python3
need tftpd-hpa /usr/sbin/in.tftpd
need tftp-hpa /usr/bin/tftp
need snmpd /usr/sbin/snmpd; need snmp snmpget; need tshark tshark
need libsnmp-base /usr/share/snmp/mibs/UCD-SNMP-MIB.txt
need libpcap-dev /usr/include/pcap/pcap.h
need wireshark-common editcap
need python3-scapy /usr/lib/python3/dist-packages/scapy
need iproute2 ip
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq $missing
    exit 0
fi
echo "Missing build dependencies. Run:"
echo "  sudo apt-get install -y$missing"
exit 1
