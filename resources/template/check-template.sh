#!/bin/sh
# Checks template.dot (or the .dot given) in three independent ways: its Word
# binary structure, LibreOffice's reading of it, and antiword/catdoc on a .doc
# made from it. Needs python3-uno, LibreOffice Writer, poppler-utils, antiword
# and catdoc. Usage: check-template.sh [file.dot] [--paper letter|a4] [--render DIR]
# [--no-office] [--up-to-date]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/check_template.py" "$@"
