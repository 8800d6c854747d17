#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build and run OrvaneSrv (and its demo, which runs the
# program on a virtual display inside a lab of network namespaces).
#
# scripts/install-deps.sh --for-tests
# also installs what only the tests and benchmarks use: the fuzz build's compiler, a browser and
# its driver, lintian and the package tools, nginx and wrk, slapd and the LDAP tools, the
# command-line tools the tests call, and Node.js with the browser test's accessibility checker
# (tests/www/package.json, exact versions from its lock file). scripts/test.sh runs it so.
set -euo pipefail

for_tests=0
case ${1:-} in
    "") ;;
    --for-tests) for_tests=1 ;;
    *)
        echo "usage: $0 [--for-tests]" >&2
        exit 2
        ;;
esac

# The default build configures the tests beside the program, so their library is needed to build
# it at all.
packages=(
    build-essential cmake ninja-build pkg-config
    libsqlite3-dev libssl-dev libcurl4-openssl-dev libsystemd-dev libicu-dev libldap-dev
    libgtest-dev libgmock-dev
    qt6-base-dev qt6-svg-dev fonts-dejavu-core
    iproute2 curl xvfb python3
)
test_packages=(
    clang libclang-rt-14-dev libbenchmark-dev
    sqlite3 openssl procps nginx-light wrk xauth
    chromium chromium-driver python3-selenium
    dpkg-dev lintian systemd
    slapd ldap-utils
)
if [ "$for_tests" -eq 1 ]; then
    packages+=("${test_packages[@]}")
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

# Node.js and npm run the browser test's accessibility checker. A machine may have them from
# another source than Debian's packages (whose npm conflicts with such a nodejs): only where the
# commands are missing are Debian's asked for.
if [ "$for_tests" -eq 1 ] && { ! command -v node >/dev/null || ! command -v npm >/dev/null; }; then
    packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -q
    # nginx is only a benchmark peer and slapd a test directory: keep the packages from starting
    # system-wide servers.
    policy=/usr/sbin/policy-rc.d
    created_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
        created_policy=1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
    if [ "$created_policy" -eq 1 ]; then
        "${sudo_cmd[@]}" rm -f "$policy"
    fi
fi

[ "$for_tests" -eq 1 ] || exit 0

# The accessibility checker of the self-service page's test, into tests/www/node_modules, at the
# version its lock file pins (fetched only when another one, or none, is there).
www_tests="$(cd "$(dirname "$0")/../tests/www" && pwd)"
version_of() {
    node -p "require(process.argv[1])$2" "$1" 2>/dev/null || true
}
pinned="$(version_of "$www_tests/package-lock.json" ".packages['node_modules/axe-core'].version")"
installed="$(version_of "$www_tests/node_modules/axe-core/package.json" ".version")"
if [ -z "$installed" ] || [ "$installed" != "$pinned" ]; then
    npm ci --prefix "$www_tests" --no-audit --no-fund --ignore-scripts
fi
