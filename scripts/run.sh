#!/usr/bin/env bash
# Builds Veltrane (installing what a fresh Debian 12 lacks) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
exec ./build/bin/veltrane "$@"
