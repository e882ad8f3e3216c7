#!/usr/bin/env bash
# Debian's own checker accepts the .deb: no error and no warning (what it may
# not like and must live with is overridden in the package, with the reason).
# Usage: check-lintian.sh BUILD_DIR
build=$1
. "$(dirname "$0")/common.sh"
need cpack lintian

build_deb

# lintian warns on stderr when run as root; only its findings count.
rc=0
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$root/lintian.out" 2>"$root/lintian.err" || rc=$?
cat "$root/lintian.out"
[ "$rc" -eq 0 ] || fail "lintian exited with $rc: $(grep -v 'root privileges' "$root/lintian.err" || true)"
if grep -E '^[EW]: ' "$root/lintian.out" >/dev/null; then
  fail "lintian reports errors or warnings"
fi
# An override that no longer matches anything hides nothing and should go.
if grep -E 'unused-override|mismatched-override' "$root/lintian.out" >/dev/null; then
  fail "lintian reports an override that matches nothing"
fi
lintian --show-overrides "$deb" 2>/dev/null | grep '^O: ' || true

# The manual page is there and reads without complaint.
dpkg-deb -x "$deb" "$root/pkg"
page="$root/pkg/usr/share/man/man1/veltrane.1.gz"
if [ ! -f "$page" ]; then
  fail "the package has no manual page veltrane(1)"
elif command -v man >/dev/null 2>&1; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || fail "man warns about veltrane(1): $warnings"
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
  for word in --write-template --force --help --version XDG_DATA_HOME XDG_DATA_DIRS \
      /usr/local/share/veltrane/template.dot Ardmoor.conf; do
    grep -qF -- "$word" <<<"$text" || fail "veltrane(1) does not mention $word"
  done
fi

finish
