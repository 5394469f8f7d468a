#!/bin/sh
# Runs every benchmark: the Google Benchmark executables, then the Tcl drivers.
set -e
build=$1
for b in "$build"/bin/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
done
for t in bench/*.tcl; do
    [ -f "$t" ] || continue
    echo "== $t"
    "$build"/bin/zemkosh "$t"
done
