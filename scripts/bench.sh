#!/usr/bin/env bash
# Runs every benchmark of the release build, one after the other, and prints
# the table of ratios against their baselines (all from this one run).
#   scripts/bench.sh [benchmark-name-glob]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh release >&2
export LDAPNOINIT=1
out=build/release/bench-results
rm -rf "$out" && mkdir -p "$out"
for b in $(find build/release/bench -maxdepth 2 -type f -executable -name 'bench_*' | sort); do
    name=$(basename "$b")
    case "$name" in ${1:-*}) ;; *) continue ;; esac
    echo "=== $name ==="
    "$b" --benchmark_counters_tabular=true --benchmark_out="$out/$name.json" --benchmark_out_format=json
done
echo
python3 scripts/bench_table.py "$out"
