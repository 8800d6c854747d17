#!/usr/bin/env bash
# Installs what is needed, builds OrvaneSrv and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build --target OrvaneSrv
exec build/bin/OrvaneSrv "$@"
