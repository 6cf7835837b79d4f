#!/usr/bin/env bash
# The main job: builds the tools and the simulator, starts the bundled directory simulator with
# a sample server object, and runs quorindex against it:
# list, add, suspend, list, resume, delete, list.
# Then a few dirext commands: whoami, partitions, a bulk load watched by a second dirext,
# a schema lookup, and a backup restored.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh demo >&2

export LDAPNOINIT=1
sim=build/demo/sim/dirsim
quorindex=build/demo/tools/quorindex/quorindex
dirext=build/demo/tools/dirext/dirext
ready=$(mktemp)
scratch=$(mktemp -d)
"$sim" --ldif sim/data/sample.ldif >"$ready" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$ready" "$scratch"' EXIT
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

connection=(-H "ldap://127.0.0.1:$port" -D cn=admin,o=lab -w secret)
dirext_run() {
    printf '\n$ dirext %s\n' "$*"
    set +e
    "$dirext" "$1" "${connection[@]}" "${@:2}"
    echo "(exit status $?)"
    set -e
}
dirext_run whoami
dirext_run partitions

# A second dirext follows the tree while the load changes it (bounded, should it
# miss a change on a very slow machine).
timeout 20 "$dirext" watch "${connection[@]}" --count 6 o=lab >"$scratch/watch" 2>&1 &
watch_pid=$!
sleep 1
dirext_run load sim/data/people.ldif
wait $watch_pid || true
printf '\n$ dirext watch --count 6 o=lab      (started before the load, in another shell)\n'
cat "$scratch/watch"

dirext_run schema get sn
dirext_run backup 'cn=Ada Lovelace,ou=people,o=lab' -o "$scratch/ada.bak"
dirext_run restore 'cn=Ada Lovelace,ou=people,o=lab' -i "$scratch/ada.bak"
