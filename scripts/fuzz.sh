#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded time, each from
# its seed corpus (left unchanged: what a run discovers goes to a scratch
# directory).  A crash, a sanitizer report, a leak or a failed property stops
# that fuzzer and fails the run; the input is kept under build/fuzz/findings/.
#
#   scripts/fuzz.sh [seconds-per-fuzzer] [fuzzer-name-glob]    (default: 20, all)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-20}
scripts/setup.sh fuzz >&2

export LDAPNOINIT=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
findings=$top/build/fuzz/findings
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings"

passed=0 failed=0
# Each fuzzer's seed corpus is the folder its corpus test runs over.
while read -r name corpus; do
    case "$name" in ${2:-*}) ;; *) continue ;; esac
    bin=$(find build/fuzz/fuzz -type f -perm -u+x -name "$name" | head -n1)
    if [ -z "$bin" ]; then
        echo "fuzz: $name was not built"; failed=$((failed + 1)); continue
    fi
    mkdir -p "$scratch/$name"
    echo "=== $name ($seconds s) ==="
    if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$findings/$name-" "$scratch/$name" "$corpus" >"$scratch/$name.log" 2>&1; then
        grep -E '^Done ' "$scratch/$name.log" || true
        passed=$((passed + 1))
    else
        tail -n 60 "$scratch/$name.log"
        echo "fuzz: $name FAILED (input kept under $findings)"
        failed=$((failed + 1))
    fi
done < build/fuzz/fuzz-targets.txt
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ] && [ $passed -gt 0 ]
