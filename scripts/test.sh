#!/usr/bin/env bash
# Builds Veltrane (installing what a fresh Debian 12 lacks) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j2 "$@"
