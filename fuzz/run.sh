#!/bin/sh
# Runs each built fuzz target for the given seconds on its seed corpus; fails on a crash.
set -e
build=$1
seconds=${2:-60}
status=0
for target in "$build"/bin/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target" _fuzz)
    corpus=fuzz/corpus/$name
    work=$build/fuzz-work/$name
    mkdir -p "$work"
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    echo "== fuzzing $name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=0 "$work" > "$build/fuzz-$name.log" 2>&1; then
        tail -n 40 "$build/fuzz-$name.log"
        echo "fuzz target $name failed"
        status=1
    else
        grep -E "^#[0-9]+.*DONE|Done [0-9]+ runs" "$build/fuzz-$name.log" | tail -n 1 || true
    fi
done
exit $status
