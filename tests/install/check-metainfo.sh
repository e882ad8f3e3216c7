#!/usr/bin/env bash
# The installed AppStream data is valid and belongs to the installed desktop entry.
# Usage: check-metainfo.sh BUILD_DIR
build=$1
. "$(dirname "$0")/common.sh"
need appstreamcli

# A /usr tree under DESTDIR, as a package installs it, for validate-tree.
if ! DESTDIR="$root/tree" cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1; then
  cat "$root/install.log" >&2
  fail "cmake --install failed"
  finish
fi
meta=$(ls "$root"/tree/usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -n1) || true
[ -n "$meta" ] || { fail "no installed metainfo"; finish; }
app_id=$(basename "$meta" .metainfo.xml)

out=$(appstreamcli validate --no-net "$meta" 2>&1) || fail "appstreamcli validate: $out"
out=$(appstreamcli validate-tree --no-net "$root/tree" 2>&1) || fail "appstreamcli validate-tree: $out"

for tag in id name summary description metadata_license project_license content_rating; do
  grep -q "<$tag[ >/]" "$meta" || fail "metainfo has no <$tag>"
done
grep -q "<id>$app_id</id>" "$meta" || fail "metainfo id is not $app_id (its file name)"
launch=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$meta")
[ -n "$launch" ] || fail "metainfo names no desktop-id launchable"
[ -z "$launch" ] || [ -f "$root/tree/usr/share/applications/$launch" ] \
  || fail "launchable $launch is not an installed desktop entry"

finish
