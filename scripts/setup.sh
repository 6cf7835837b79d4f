#!/usr/bin/env bash
# One-time (idempotent) set-up of a Debian 12 machine: installs what is missing,
# builds the OpenSSL-backed OpenLDAP client libraries into build/deps, and
# configures and builds the project in build/<config>.
#
#   scripts/setup.sh [demo|release|asan|tsan|fuzz]...     (default: release)
#
# demo installs and builds only what scripts/demo.sh runs (no test tool chain).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(release)

# What every configuration needs: the compiler and build tools, OpenSSL, and
# what building the private libldap from Debian's source package takes.
need_pkgs=(build-essential cmake ninja-build pkg-config dpkg-dev libssl-dev
           ca-certificates debian-archive-keyring)
for c in "${configs[@]}"; do
    case "$c" in
        demo) ;;
        # The test tool chain, and slapd as the independent LDAP peer.
        # libsasl2-modules holds Cyrus SASL's DIGEST-MD5 for slapd: only a
        # recommendation of slapd's, so --no-install-recommends leaves it out.
        release|asan|tsan)
            need_pkgs+=(openssl libgtest-dev libgmock-dev libbenchmark-dev slapd ldap-utils
                        libsasl2-modules python3 man-db) ;;
        fuzz) need_pkgs+=(clang libclang-rt-14-dev) ;;
        *) echo "setup: unknown configuration $c (demo, release, asan, tsan or fuzz)" >&2; exit 2 ;;
    esac
done
missing=()
for p in $(printf '%s\n' "${need_pkgs[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    # slapd's package scripts would start a system daemon; this project only
    # runs private instances, so keep the package from starting anything.
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    rm -f /usr/sbin/policy-rc.d
fi

scripts/build-openldap.sh

for c in "${configs[@]}"; do
    case "$c" in
        # Only what the demo runs: the tool and the simulator.
        demo)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIREXT_BUILD_TESTS=OFF) ;;
        release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=address) ;;
        tsan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=thread) ;;
        # The fuzzers and what they reach; the test suite runs in the other builds.
        fuzz)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=address -DDIREXT_FUZZ=ON -DDIREXT_BUILD_TESTS=OFF
                        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
    esac
    if [ ! -f "build/$c/build.ninja" ]; then
        cmake -S . -B "build/$c" -G Ninja -DDIREXT_WERROR=ON "${flags[@]}" >/dev/null
    fi
    if [ "$c" = tsan ]; then
        # Only the programs that take locks or run threads (tests/tsan-targets.txt).
        mapfile -t targets < <(grep -v '^#' tests/tsan-targets.txt | grep .)
        cmake --build "build/$c" --target "${targets[@]}"
    elif [ "$c" = demo ]; then
        cmake --build "build/$c" --target quorindex dirext_tool dirsim
    else
        cmake --build "build/$c"
    fi
done
