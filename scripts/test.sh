#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the release and the
# sanitizer (ASan+UBSan) configurations, and runs the whole suite in each;
# then builds the libFuzzer targets and runs each for a short, bounded time.
#
#   scripts/test.sh            tsan (the threaded tests), release, asan (ASan+UBSan) and fuzz
#   scripts/test.sh release    only one of them
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(tsan release asan fuzz)

# The tsan configuration builds only the programs of tests/tsan-targets.txt
# and runs each of them whole.
run_tsan_programs() {
    local failed=0 passed=0 t bin
    for t in $(grep -v '^#' tests/tsan-targets.txt | grep .); do
        bin=$(find build/tsan/tests -type f -name "$t" -perm -u+x | head -n1)
        if [ -z "$bin" ]; then echo "tsan: $t was not built"; failed=$((failed + 1)); continue; fi
        if "$bin" --gtest_brief=1; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
    echo "tsan: $passed passed, $failed failed"
    [ $failed -eq 0 ]
}
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
    if [ "$c" = tsan ]; then
        run_tsan_programs || status=1
    elif [ "$c" = fuzz ]; then
        scripts/fuzz.sh "${DIREXT_FUZZ_SECONDS:-20}" || status=1
    else
        (cd "build/$c" && ctest --output-on-failure --timeout 300 -j2) || status=1
    fi
done
exit $status
