#!/usr/bin/env bash
# Builds the .deb and checks what it holds and what it depends on: every
# library the program and its plugin load must come from a package it
# depends on, and so must the word processor and the template's fonts.
# Usage: check-package.sh BUILD_DIR HAVE_OFFICE(0|1)
build=$1 have_office=$2
. "$(dirname "$0")/common.sh"
need cpack dpkg-deb dpkg-shlibdeps dpkg-query

build_deb

[ "$(dpkg-deb -f "$deb" Package)" = veltrane ] || fail "package is not named veltrane"
for field in Maintainer Description Section Version Architecture; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "package has no $field"
done
# A synopsis, then a body that package managers show as flowing text.
dpkg-deb -f "$deb" Description >"$root/description"
synopsis=$(head -n1 "$root/description")
[ -n "$synopsis" ] && [ ${#synopsis} -le 80 ] || fail "package synopsis is empty or too long: '$synopsis'"
[ "$(wc -l <"$root/description")" -ge 2 ] || fail "package has no long description"
awk 'NR > 1 && /^  / {bad = 1} END {exit bad}' "$root/description" || fail "package description lines are indented twice (shown verbatim)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# One alternative group per line, without version constraints.
groups=$(echo "$depends" | tr ',' '\n' | sed 's/([^)]*)//g; s/ //g')
depends_on() {
  local group alt
  while IFS= read -r group; do
    IFS='|' read -ra alts <<<"$group"
    for alt in "${alts[@]}"; do
      [ "$alt" = "$1" ] && return 0
    done
  done <<<"$groups"
  return 1
}

# Layout inside the package, including the link.
dpkg-deb -c "$deb" >"$root/contents"
grep -Eq '^l.* \./usr/bin/veltrane -> \.\./lib/veltrane/veltrane$' "$root/contents" \
  || fail "package lacks the relative link usr/bin/veltrane"
for f in veltrane HAND-M.CUR x/o.cjs; do
  grep -Eq " \./usr/lib/veltrane/$f$" "$root/contents" || fail "package lacks usr/lib/veltrane/$f"
done
[ "$have_office" = 0 ] || grep -Eq ' \./usr/lib/veltrane/libveltrane_office\.so$' "$root/contents" \
  || fail "package lacks the office plugin"

# Nothing to run on install or removal, so removing leaves no "rc" entry behind.
dpkg-deb -e "$deb" "$root/control"
for script in preinst postinst prerm postrm; do
  [ ! -e "$root/control/$script" ] || fail "package has a $script script"
done

# Each library the program and its plugin link directly comes from a package
# that Depends names (what those need in turn, their own packages bring).
owner_of() {
  local path found
  for path in "$1" "$(realpath "$1")" "${1#/usr}" "$(realpath "$1" | sed 's|^/usr||')"; do
    found=$(dpkg-query -S "$path" 2>/dev/null | head -n1) || true
    if [ -n "$found" ]; then
      echo "${found%%:*}"
      return 0
    fi
  done
  return 0
}
dpkg-deb -x "$deb" "$root/pkg"
for elf in "$root"/pkg/usr/lib/veltrane/veltrane "$root"/pkg/usr/lib/veltrane/*.so; do
  [ -f "$elf" ] || continue
  ldd "$elf" >"$root/ldd"
  for name in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    lib=$(awk -v n="$name" '$1 == n && $3 ~ /^\// {print $3}' "$root/ldd")
    owner=""
    [ -z "$lib" ] || owner=$(owner_of "$lib")
    if [ -z "$owner" ]; then
      fail "$(basename "$elf") needs $name, which no installed package provides"
    elif ! depends_on "$owner"; then
      fail "$(basename "$elf") needs $name from $owner, which is not in Depends"
    fi
  done
done

# Started, not linked: the word processor and the template's fonts.
if [ "$have_office" = 1 ]; then
  depends_on libreoffice-writer-nogui || depends_on libreoffice-writer || fail "Depends names no LibreOffice Writer"
fi
depends_on fonts-liberation2 || fail "Depends lacks fonts-liberation2"

# Fonts for the scripts beyond Latin, Cyrillic and Greek, recommended: one group
# each for Arabic and Hebrew, Devanagari, Chinese/Japanese/Korean and emoji, each
# naming a package that is installed here (the tests draw with it).
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Recommends: $recommends"
rgroups=$(echo "$recommends" | tr ',' '\n' | sed 's/([^)]*)//g; s/ //g')
for first in fonts-dejavu-core fonts-lohit-deva fonts-wqy-microhei fonts-symbola; do
  grep -qE "^$first(\\||$)" <<<"$rgroups" || { fail "Recommends has no group starting with $first"; continue; }
  dpkg-query -W -f='${Status}' "$first" 2>/dev/null | grep -q 'install ok installed' \
    || fail "recommended $first is not installed on this machine"
done

finish
