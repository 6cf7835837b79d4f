#!/usr/bin/env bash
# install_test.sh SOURCE-DIR OPENLDAP-PREFIX DIRSIM DOWNSTREAM-DIR
#
# Builds the library and the tool in a build tree of their own, installs them
# into a temporary prefix, deletes the build tree and moves the prefix, so that
# anything still pointing into either shows.  Then, with a clean environment:
# the installed files are where a user looks for them, every run path is
# relative, the manual page renders without warnings, and the installed
# quorindex and dirext and two programs built against the installed library (one with
# pkg-config, one with find_package) run against the simulator.
set -euo pipefail
src=$1 openldap=$2 dirsim=$3 downstream=$4

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

step "build and install"
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDIREXT_BUILD_TESTS=OFF \
      -DDIREXT_OPENLDAP_PREFIX="$openldap" -DCMAKE_INSTALL_PREFIX=/nonexistent >/dev/null
cmake --build "$work/build" --target dirext quorindex dirext_tool >/dev/null
cmake --install "$work/build" --prefix "$work/installed" >/dev/null
rm -rf "$work/build"
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

step "layout"
for f in bin/quorindex bin/dirext lib/libdirext.so.0 lib/libdirext.so include/dirext.h include/dirext/tls.h \
         include/dirext/openldap/ldap.h lib/dirext/libldap-2.5.so.0 lib/dirext/liblber-2.5.so.0 \
         lib/dirext/libldap.so lib/pkgconfig/libdirext.pc lib/cmake/dirext/dirextConfig.cmake \
         share/man/man1/quorindex.1 share/man/man1/dirext.1 share/doc/dirext/examples/events_monitor.c; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -L "$prefix/lib/libdirext.so" ] || fail "lib/libdirext.so is not a development link"
# The private libldap shares its soname with the system's: it must stay out of lib/.
if ls "$prefix"/lib/libldap* "$prefix"/lib/liblber* >/dev/null 2>&1; then
    fail "an OpenLDAP library is installed where it shadows the system's"
fi

step "run paths"
while IFS= read -r -d '' f; do
    readelf -h "$f" >/dev/null 2>&1 || continue
    paths=$(readelf -d "$f" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
    IFS=: read -ra entries <<<"$paths"
    for p in "${entries[@]}"; do
        case $p in
            '$ORIGIN'*) ;;
            *) fail "${f#$prefix/} has the run path entry $p" ;;
        esac
    done
done < <(find "$prefix/bin" "$prefix/lib" -type f -print0)

step "no path into the build tree or the dependencies' prefix"
while IFS= read -r -d '' f; do
    readelf -h "$f" >/dev/null 2>&1 || continue
    objcopy --strip-debug "$f" "$work/stripped"  # debug information names the sources, as it should
    if grep -q -a -e "$openldap" -e "$work/build" "$work/stripped"; then
        fail "${f#$prefix/} refers to $(grep -a -o -e "$openldap[^[:space:]]*" -e "$work/build[^[:space:]]*" \
            "$work/stripped" | head -n1)"
    fi
done < <(find "$prefix/bin" "$prefix/lib" -type f -print0)

step "manual pages"
for page in quorindex dirext; do
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports for $page.1: $warnings"
done

step "programs built against the installed library"
clean_env=(env -i PATH=/usr/bin:/bin LDAPNOINIT=1 HOME="$work")
"${clean_env[@]}" PKG_CONFIG_PATH="$prefix/lib/pkgconfig" sh -c \
    'cc -std=c99 -Wall -Werror -o "$1" "$2" $(pkg-config --cflags --libs libdirext)' -- \
    "$work/whoami-pkgconfig" "$downstream/whoami.c"
# The examples as a programmer copies them: strict C99, warnings as errors.
for example in "$prefix"/share/doc/dirext/examples/*.c; do
    "${clean_env[@]}" PKG_CONFIG_PATH="$prefix/lib/pkgconfig" sh -c \
        'cc -std=c99 -Wall -Wextra -Werror -o "$1" "$2" $(pkg-config --cflags --libs libdirext)' -- \
        "$work/example" "$example" || fail "the installed $(basename "$example") does not build"
done
"${clean_env[@]}" cmake -S "$downstream" -B "$work/downstream" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"${clean_env[@]}" cmake --build "$work/downstream" >/dev/null

step "against the simulator"
ready=$work/ready
"$dirsim" --ldif "$src/sim/data/sample.ldif" >"$ready" &
sim_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$ready")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "the simulator did not start"

expected=$(printf 'libldap TLS: OpenSSL\nbound as: cn=admin,o=lab')
for program in "$work/whoami-pkgconfig" "$work/downstream/whoami"; do
    out=$("${clean_env[@]}" "$program" "ldap://127.0.0.1:$port" cn=admin,o=lab secret) ||
        fail "${program#$work/} failed"
    [ "$out" = "$expected" ] || fail "${program#$work/} printed: $out"
done

out=$("${clean_env[@]}" "$prefix/bin/quorindex" list -h 127.0.0.1 -p "$port" -D cn=admin,o=lab -w secret \
      -s cn=server1,ou=servers,o=lab) || fail "the installed quorindex failed"
grep -q $'^\tIndex Name: ' <<<"$out" || fail "the installed quorindex listed: $out"
out=$("${clean_env[@]}" "$prefix/bin/dirext" whoami -H "ldap://127.0.0.1:$port" -D cn=admin,o=lab -w secret) ||
    fail "the installed dirext failed"
grep -q 'cn=admin,o=lab' <<<"$out" || fail "the installed dirext printed: $out"
# Every command of the usage text has its part in the manual page.
for cmd in $("${clean_env[@]}" "$prefix/bin/dirext" --help | sed -n 's/^  dirext \([a-z]*\).*/\1/p' | sort -u); do
    MANWIDTH=200 man -l "$prefix/share/man/man1/dirext.1" 2>/dev/null | grep -q "^       $cmd\b" ||
        fail "dirext.1 does not describe $cmd"
done
for tool in quorindex dirext; do
    libldap=$("${clean_env[@]}" ldd "$prefix/bin/$tool" | awk '$1 == "libldap-2.5.so.0" { print $3 }')
    [ "$(readlink -f "$libldap")" = "$(readlink -f "$prefix/lib/dirext/libldap-2.5.so.0")" ] ||
        fail "$tool loads ${libldap:-no libldap}"
done
echo "install: all checks passed"
