#!/usr/bin/env bash
# Builds OpenLDAP's client libraries (libldap, liblber) with OpenSSL from
# Debian's own source package into build/deps/openldap, once.  Debian's binary
# libldap uses GnuTLS, which cannot take an OpenSSL SSL_CTX.  The result has the
# same soname as Debian's library, so it lives in a private prefix and is only
# reached through run paths: never install it in a system directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/build/deps"
prefix="$deps/openldap"
# Bump when the build flags change, so that existing trees rebuild.
stamp="$prefix/.built-3"
[ -f "$stamp" ] && exit 0

work="$deps/src"
stage="$deps/stage"
rm -rf "$work" "$stage"
mkdir -p "$work/lists/partial" "$work/archives/partial"
cat > "$work/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
LIST
apt_opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o "Dir::Etc::sourceparts=-"
          -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::archives=$work/archives"
          -o "APT::Sandbox::User=root")
echo "build-openldap: fetching Debian's openldap source package" >&2
apt-get "${apt_opts[@]}" update -qq
(cd "$work" && apt-get "${apt_opts[@]}" source -qq openldap >/dev/null)
src=$(find "$work" -maxdepth 1 -type d -name 'openldap-*' | head -n1)
echo "build-openldap: building $(basename "$src") with OpenSSL into $prefix" >&2
cd "$src"
# Frame pointers let the sanitizers' fast unwinder see through libldap, so
# that leak reports (and suppressions) name the functions involved.
# The configuration file and the ldapi socket are the system's, as Debian's own
# libldap has them (/etc/ldap/ldap.conf, /var/run/slapd/ldapi): an installed
# quorindex then honours the administrator's ldap.conf like the system's
# tools do, and nothing points into the build tree.
./configure -q --prefix="$prefix" --sysconfdir=/etc --localstatedir=/var --with-subdir=ldap \
    --disable-slapd --with-tls=openssl --without-cyrus-sasl \
    --disable-static --enable-shared CFLAGS="-O2 -g -fno-omit-frame-pointer" >/dev/null
make -s -C include >/dev/null
make -s -j"$(nproc)" -C libraries >/dev/null
# Staged, then moved into place in one step, so that a tree in use is never
# half installed.
make -s -C include install DESTDIR="$stage" >/dev/null
make -s -C libraries install DESTDIR="$stage" >/dev/null
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
rm -rf "$stage"
touch "$stamp"
rm -rf "$work"
echo "build-openldap: done" >&2
