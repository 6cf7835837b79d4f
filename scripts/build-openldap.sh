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
stamp="$prefix/.built"
[ -f "$stamp" ] && exit 0

work="$deps/src"
rm -rf "$work" "$prefix"
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
./configure -q --prefix="$prefix" --disable-slapd --with-tls=openssl --without-cyrus-sasl \
    --disable-static --enable-shared CFLAGS="-O2 -g" >/dev/null
make -s -C include >/dev/null
make -s -j"$(nproc)" -C libraries >/dev/null
make -s -C include install >/dev/null
make -s -C libraries install >/dev/null
touch "$stamp"
rm -rf "$work"
echo "build-openldap: done" >&2
