#!/bin/bash
# check_exports.sh LIBRARY EXPECTED: the dynamic symbols that LIBRARY defines
# are exactly the names in EXPECTED, each bound to version DIREXT_0.
set -eu
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk '$3 != "DIREXT_0" { print $3 }' | sort)
unversioned=$(printf '%s\n' "$actual" | grep -v '@@DIREXT_0$' || true)
if [ -n "$unversioned" ]; then
    echo "symbols outside the DIREXT_0 version node:"; echo "$unversioned"; exit 1
fi
names=$(printf '%s\n' "$actual" | sed 's/@@DIREXT_0$//')
want=$(grep -v '^$' "$expected" | sort)
if [ "$names" != "$want" ]; then
    echo "exported symbols differ from the API (< exported, > expected):"
    diff <(printf '%s\n' "$names") <(printf '%s\n' "$want") || true
    exit 1
fi
echo "$(printf '%s\n' "$names" | wc -l) symbols, all under DIREXT_0"
