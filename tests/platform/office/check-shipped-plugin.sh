#!/bin/sh
# The office plugin as it is run and shipped, built from this tree beside the
# test build: without the test hooks it must still build warnings-clean, and
# export the two entry points and none of the hooks.
# Usage: check-shipped-plugin.sh SOURCE_DIR BUILD_DIR [COMPILER_LAUNCHER]
set -eu
src=$1 out=$2 launcher=${3:-}
cmake -S "$src" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_WERROR=ON \
  -DVELTRANE_OFFICE_TEST_HOOKS=OFF ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$out" --target veltrane_office -j2 >"$out/plugin-build.log" 2>&1 || {
  grep -E 'error|warning' "$out/plugin-build.log" | head -20
  echo "the plugin without test hooks does not build"
  exit 1
}
symbols=$(nm -D --defined-only "$out/bin/libveltrane_office.so")
if echo "$symbols" | grep veltrane_office_testing_; then
  echo "the shipped plugin exports test hooks"
  exit 1
fi
for entry in veltrane_create_word_application veltrane_prepare_word_application; do
  echo "$symbols" | grep -q " $entry\$" || { echo "the shipped plugin lacks $entry"; exit 1; }
done
