#!/usr/bin/env bash
# Builds Veltrane (installing what a fresh Debian 12 lacks) with warnings as
# errors and the office plugin's test hooks, checks that every source is
# formatted as .clang-format says, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh -DVELTRANE_WERROR=ON -DVELTRANE_OFFICE_TEST_HOOKS=ON
find . \( -path './build*' -o -path ./.git \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror
ctest --test-dir build --output-on-failure -j2 "$@"
