#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/. Arguments
# go to the configure step (test.sh passes -DVELTRANE_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
