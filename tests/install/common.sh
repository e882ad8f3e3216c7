# Shared by the install checks. Sourced; expects $build (the build folder).
set -euo pipefail

fails=0
fail() {
  echo "FAIL: $*" >&2
  fails=$((fails + 1))
}
finish() {
  if [ "$fails" -ne 0 ]; then
    echo "$fails check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}
# CTest's SKIP_RETURN_CODE.
skip() {
  echo "SKIP: $*"
  exit 77
}
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}

# A private scratch folder, removed on exit (with anything still running from it).
root=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/veltrane-install-XXXXXX")")
cleanup() {
  local pids
  pids=$(pgrep -f -- "$root" || true)
  for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$root"
}
trap cleanup EXIT

# Install the build into $1 (a prefix) quietly; show the log only on failure.
install_to() {
  if ! cmake --install "$build" --prefix "$1" >"$root/install.log" 2>&1; then
    cat "$root/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
  fi
}

# Build the .deb into $root/out and set $deb to it; show the log only on failure.
build_deb() {
  if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$root/out" >"$root/cpack.log" 2>&1; then
    cat "$root/cpack.log" >&2
    fail "cpack failed"
    finish
  fi
  deb=$(ls "$root"/out/veltrane_*.deb 2>/dev/null | head -n1) || true
  [ -n "$deb" ] || { fail "cpack made no veltrane_*.deb"; finish; }
}

# Environment for running the installed program without touching the user's.
private_env() {
  mkdir -p "$root/home" "$root/temp" "$root/runtime"
  chmod 700 "$root/runtime"
  export HOME="$root/home" TEMP="$root/temp" TMPDIR="$root/temp"
  export XDG_CONFIG_HOME="$root/home/.config" XDG_CACHE_HOME="$root/home/.cache"
  export XDG_DATA_HOME="$root/home/.local/share" XDG_RUNTIME_DIR="$root/runtime"
  unset TMP
}

# Value of a key in the desktop entry's main group.
desktop_key() {
  awk -v key="$2" '/^\[/ {main = ($0 == "[Desktop Entry]")}
    main && index($0, key "=") == 1 {print substr($0, length(key) + 2); exit}' "$1"
}
