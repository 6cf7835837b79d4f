#!/bin/bash
# check_bindings.sh PROGRAM LIBRARY EXPORTS KNOWN
# 1. The program's references to the two names libldap shares are bound to
#    the library's version node.
# 2. The library's own code never reaches one of its exported functions
#    through the dynamic symbol table (a PLT call, or an address from the
#    GOT), where another definition in the process could be interposed: the
#    library has no dynamic relocation against any of them.  EXPORTS lists the
#    exported names, one a line; exported data stays out, since a program's
#    copy relocation makes the GOT the only right way to reach it.  KNOWN
#    lists the functions still reached that way ('#' starts a comment); each
#    must still be, so that the list only shrinks.
set -eu
export LC_ALL=C  # one collation for sort and comm
program=$1
library=$2
exports=$3
known=$4
status=0

for name in ldap_create_persistentsearch_control ldap_parse_entrychange_control; do
    if ! nm -D --undefined-only "$program" | grep -qE " U ${name}@DIREXT_0\$"; then
        echo "$program: $name is not bound to DIREXT_0:"; nm -D --undefined-only "$program" | grep "$name" || true
        status=1
    fi
done

# The library's exported functions: the listed names its dynamic symbol table
# defines as functions.
functions=$(comm -12 \
    <(readelf --dyn-syms -W "$library" | awk '$4 == "FUNC" && $7 != "UND" { sub(/@.*/, "", $8); print $8 }' | sort -u) \
    <(grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$exports" | sort -u))
if [ -z "$functions" ]; then
    echo "$library: no exported function found (is $exports the library's list?)"
    exit 1
fi

# Every symbol a dynamic relocation of the library names, without version or addend.
relocated=$(objdump -R "$library" | awk 'NF >= 3 { v = $3; sub(/[@+].*/, "", v); print v }' | sort -u)
reached=$(comm -12 <(echo "$functions") <(echo "$relocated"))
pending=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$known" | sort -u)

for name in $(comm -23 <(echo "$reached") <(echo "$pending")); do
    echo "$library: a relocation refers to the exported function $name:"; objdump -R "$library" | grep -E "[[:space:]]${name}(@|\+|\$)"
    status=1
done
for name in $(comm -13 <(echo "$reached") <(echo "$pending")); do
    echo "$known: $name is no longer reached through the dynamic symbol table: remove it from the list"
    status=1
done

if [ $status -eq 0 ]; then
    echo "bindings as expected: $(echo "$functions" | wc -l) exported functions checked," \
         "$(echo "$pending" | grep -c . || true) still listed in $(basename "$known")"
fi
exit $status
