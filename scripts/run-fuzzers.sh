#!/usr/bin/env bash
# Runs every fuzz target for the given seconds on a copy of its seed corpus and prints its figures.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
for target in "$build"/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    seeds="fuzz/corpus/${name#fuzz_}"
    work="$build/corpus/${name#fuzz_}"
    mkdir -p "$work" "$build/crashes"
    [ -d "$seeds" ] && cp -n "$seeds"/* "$work"/ 2>/dev/null || true
    log="$build/$name.log"
    if "$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$name-" "$work" >"$log" 2>&1; then result=clean; else result=FAILED; status=1; fi
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
    printf '%-22s %-7s %10s runs %8s exec/s  coverage %s edges\n' "$name" "$result" "$execs" "$rate" "$cov"
done
exit $status
