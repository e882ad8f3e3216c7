#!/usr/bin/env bash
# The installed desktop entry is valid and points at things that are installed.
# Usage: check-desktop-entry.sh BUILD_DIR
build=$1
. "$(dirname "$0")/common.sh"
need desktop-file-validate

prefix="$root/prefix"
install_to "$prefix"
entry="$prefix/share/applications/veltrane.desktop"
[ -f "$entry" ] || { fail "no installed desktop entry"; finish; }

out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
# Warnings and hints do not fail the validator, but they are faults here too.
[ -z "$out" ] || fail "desktop-file-validate says: $out"

for key in Name GenericName Comment Keywords Categories Icon Exec StartupWMClass; do
  [ -n "$(desktop_key "$entry" "$key")" ] || fail "desktop entry has no $key"
done
[ "$(desktop_key "$entry" Terminal)" = false ] || fail "desktop entry does not say Terminal=false"
case ";$(desktop_key "$entry" Categories)" in
  *";Office;"*) ;;
  *) fail "desktop entry is not in the Office category" ;;
esac

# The menu finds the command in bin and the icon in the hicolor theme.
cmd=$(desktop_key "$entry" Exec | awk '{print $1}')
[ -x "$prefix/bin/$cmd" ] || fail "Exec names '$cmd', which is not in $prefix/bin"
icon=$(desktop_key "$entry" Icon)
ls "$prefix"/share/icons/hicolor/*/apps/"$icon".png >/dev/null 2>&1 || fail "Icon '$icon' is not in the hicolor theme"

finish
