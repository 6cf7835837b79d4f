#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the release and the
# sanitizer (ASan+UBSan) configurations, and runs the whole suite in each.
#
#   scripts/test.sh            both configurations
#   scripts/test.sh release    only one of them (release, asan or tsan)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(release asan)
scripts/setup.sh "${configs[@]}"

export LDAPNOINIT=1
# Leaks are errors; libldap's process-wide TLS and option state is released at exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 suppressions=$top/tests/tsan.supp}

status=0
for c in "${configs[@]}"; do
    echo "=== tests: $c ==="
    (cd "build/$c" && ctest --output-on-failure --timeout 300 -j2) || status=1
done
exit $status
