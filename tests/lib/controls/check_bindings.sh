#!/bin/bash
# check_bindings.sh PROGRAM LIBRARY
# The program's references to the two names libldap shares are bound to the
# library's version node, and the library itself has no relocation against
# them: its own code never calls them through the dynamic symbol table, where
# another definition could be interposed.
set -eu
program=$1
library=$2
names="ldap_create_persistentsearch_control ldap_parse_entrychange_control"
status=0
for name in $names; do
    if ! nm -D --undefined-only "$program" | grep -qE " U ${name}@DIREXT_0\$"; then
        echo "$program: $name is not bound to DIREXT_0:"; nm -D --undefined-only "$program" | grep "$name" || true
        status=1
    fi
    if objdump -R "$library" | grep -qE "[[:space:]]${name}(@|\$)"; then
        echo "$library: a relocation refers to $name:"; objdump -R "$library" | grep "$name"
        status=1
    fi
done
[ $status -eq 0 ] && echo "bindings as expected"
exit $status
