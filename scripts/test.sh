#!/usr/bin/env bash
# Builds Veltrane (installing what a fresh Debian 12 lacks) with warnings as
# errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh -DVELTRANE_WERROR=ON
ctest --test-dir build --output-on-failure -j2 "$@"
