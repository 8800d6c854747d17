#!/usr/bin/env bash
# Installs what is needed, builds OrvaneSrv and starts it in www/, the folder it serves.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build --target OrvaneSrv
# GET serves the program's working directory: only www/, never the source tree or build/.
cd www
exec ../build/bin/OrvaneSrv "$@"
