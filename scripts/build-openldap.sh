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
# The release's source package comes from the mirror the machine's own apt
# sources name for it (a local mirror or proxy included), never a fixed host.
codename=$( . /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
codename=${codename:-bookworm}
apt_mirror() {
    local f
    # One-line sources: deb [options] URI SUITE COMPONENT...
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$f" ] || continue
        awk -v suite="$codename" '$1 == "deb" || $1 == "deb-src" {
            i = 2
            if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
            if ($(i + 1) == suite && $i !~ /^cdrom:/) { print $i; exit }
        }' "$f"
    done
    # deb822 sources: stanzas with URIs: and Suites: fields.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -r "$f" ] || continue
        awk -v suite="$codename" 'BEGIN { RS = "" } {
            uri = ""; suites = ""; enabled = 1
            n = split($0, lines, "\n")
            for (k = 1; k <= n; k++) {
                line = lines[k]; gsub(/\t/, " ", line)
                if (line ~ /^URIs:/) { sub(/^URIs: */, "", line); split(line, u, / +/); uri = u[1] }
                else if (line ~ /^Suites:/) { sub(/^Suites:/, "", line); suites = line " " }
                else if (line ~ /^Enabled: *[Nn]o/) enabled = 0
            }
            if (enabled && uri != "" && uri !~ /^cdrom:/ && index(suites, " " suite " ")) { print uri; exit }
        }' "$f"
    done
}
mirror=$(apt_mirror | head -n1)
if [ -z "$mirror" ]; then
    echo "build-openldap: no Debian mirror for '$codename' in the machine's apt sources" \
         "(/etc/apt/sources.list or /etc/apt/sources.list.d/): add one, then run this again" >&2
    exit 1
fi
echo "build-openldap: source from $mirror ($codename)" >&2
cat > "$work/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename main
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
