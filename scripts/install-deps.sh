#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test OrvaneSrv.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    libsqlite3-dev sqlite3 libcurl4-openssl-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    curl iproute2 procps nginx-light wrk
    qt6-base-dev qt6-svg-dev fonts-dejavu-core xvfb xauth
    chromium chromium-driver python3-selenium
    dpkg-dev lintian
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
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
    # nginx is only a benchmark peer: keep the package from starting a system-wide server.
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
