#!/usr/bin/env bash
# The main job: builds the tool and the simulator, starts the bundled directory simulator with
# a sample server object, and runs quorindex against it:
# list, add, suspend, list, resume, delete, list.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh demo >&2

export LDAPNOINIT=1
sim=build/demo/sim/dirsim
quorindex=build/demo/tools/quorindex/quorindex
ready=$(mktemp)
"$sim" --ldif sim/data/sample.ldif >"$ready" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$ready"' EXIT
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$ready")
    [ -n "$port" ] && break
    kill -0 $sim_pid 2>/dev/null || break
    sleep 0.1
done
[ -n "$port" ] || { echo "demo: the simulator did not start" >&2; exit 1; }
echo "Directory simulator listening on 127.0.0.1:$port"

common=(-h 127.0.0.1 -p "$port" -D cn=admin,o=lab -w secret -s cn=server1,ou=servers,o=lab)
run() {
    printf '\n$ quorindex %s\n' "$*"
    set +e
    "$quorindex" "$1" "${common[@]}" "${@:2}"
    echo "(exit status $?)"
    set -e
}
run list
run add 'idxMail;mail;VALUE' 'idxName;givenName$sn;VALUE'
run suspend idxMail
run list idxMail idxName
run resume idxMail
run delete idxName
run list
