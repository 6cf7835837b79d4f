#!/usr/bin/env bash
# One-time (idempotent) set-up of a Debian 12 machine: installs what is missing,
# builds the OpenSSL-backed OpenLDAP client libraries into build/deps, and
# configures and builds the project in build/<config>.
#
#   scripts/setup.sh [release|asan|tsan]...     (default: release)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

need_pkgs=(build-essential cmake ninja-build pkg-config dpkg-dev libssl-dev openssl
           libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
           slapd ldap-utils python3 ca-certificates debian-archive-keyring man-db)
missing=()
for p in "${need_pkgs[@]}"; do
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

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(release)
for c in "${configs[@]}"; do
    case "$c" in
        release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=address) ;;
        tsan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=thread) ;;
        fuzz)    flags=(-DCMAKE_BUILD_TYPE=Debug -DDIREXT_SANITIZE=address -DDIREXT_FUZZ=ON
                        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
        *) echo "setup: unknown configuration $c" >&2; exit 2 ;;
    esac
    if [ ! -f "build/$c/build.ninja" ]; then
        cmake -S . -B "build/$c" -G Ninja -DDIREXT_WERROR=ON "${flags[@]}" >/dev/null
    fi
    if [ "$c" = tsan ]; then
        # Only the programs that take locks or run threads (tests/tsan-targets.txt).
        mapfile -t targets < <(grep -v '^#' tests/tsan-targets.txt | grep .)
        cmake --build "build/$c" --target "${targets[@]}"
    else
        cmake --build "build/$c"
    fi
done
