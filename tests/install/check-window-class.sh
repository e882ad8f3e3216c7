#!/usr/bin/env bash
# On an X server the installed program's window carries the WM_CLASS that the
# desktop entry's StartupWMClass names, so docks and menus pair them.
# Usage: check-window-class.sh BUILD_DIR
build=$1
. "$(dirname "$0")/common.sh"
need Xvfb xwininfo

prefix="$root/prefix"
install_to "$prefix"
wmclass=$(desktop_key "$prefix/share/applications/veltrane.desktop" StartupWMClass)
[ -n "$wmclass" ] || { fail "desktop entry has no StartupWMClass"; finish; }

private_env
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$root/display" 2>"$root/xvfb.log" &
xvfb=$!
stop_all() {
  [ -z "${app:-}" ] || { kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; }
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  cleanup
}
trap stop_all EXIT
for _ in $(seq 50); do [ -s "$root/display" ] && break; sleep 0.1; done
[ -s "$root/display" ] || { fail "Xvfb did not start: $(cat "$root/xvfb.log")"; finish; }
export DISPLAY=":$(head -n1 "$root/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

"$prefix/bin/veltrane" >"$root/run.log" 2>&1 &
app=$!
# The window is titled with the product name (a message box too, if no Writer).
pair=""
for _ in $(seq 200); do
  pair=$(xwininfo -root -tree 2>/dev/null | sed -n 's/.*"Veltrane": (\("[^"]*" "[^"]*"\)).*/\1/p' | head -n1) || true
  [ -n "$pair" ] && break
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$pair" ]; then
  fail "no Veltrane window appeared"
  cat "$root/run.log" >&2
else
  instance=$(echo "$pair" | cut -d'"' -f2)
  class=$(echo "$pair" | cut -d'"' -f4)
  echo "WM_CLASS: instance '$instance', class '$class'; StartupWMClass '$wmclass'"
  [ "$wmclass" = "$class" ] || fail "StartupWMClass '$wmclass' is not the window's class '$class'"
fi

finish
