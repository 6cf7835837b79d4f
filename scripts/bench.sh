#!/usr/bin/env bash
# Runs every benchmark of the release build, one after the other.
#   scripts/bench.sh [benchmark-name-regex]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh release >&2
export LDAPNOINIT=1
for b in $(find build/release/bench -maxdepth 2 -type f -executable -name 'bench_*' | sort); do
    case "$(basename "$b")" in ${1:-*}) ;; *) continue ;; esac
    echo "=== $(basename "$b") ==="
    "$b" --benchmark_counters_tabular=true
done
