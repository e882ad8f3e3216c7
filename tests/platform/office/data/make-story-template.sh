#!/bin/sh
# Rebuilds story-template.dot, the Word 97-2003 template the office tests fill,
# from its editable source story-template.fodt (open that in LibreOffice to
# change it). Every story holds "[Story]" so a test can tell where a
# replacement landed: body, table cell, footnote, text frame, drawing shape,
# header and footer.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=${SOFFICE_BIN:-/usr/lib/libreoffice/program/soffice.bin}
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
run() {
  "$program" --headless --invisible --nologo --norestore --nodefault --nolockcheck \
    "-env:UserInstallation=file://$profile" \
    --convert-to 'dot:MS Word 97 Vorlage' --outdir "$here" "$here/story-template.fodt"
}
# A new profile's first start only sets the profile up (exit code 81).
run || run
test -s "$here/story-template.dot"
