#!/bin/sh
# Regenerates template.dot from warning-notice.fodt with a private headless
# LibreOffice. Needs Debian's libreoffice-writer(-nogui) and python3-uno.
# Usage: build-template.sh [--paper letter|a4 [output.dot]]
# (no arguments: template.dot, Letter, and template-a4.dot, A4)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# python3-uno lives in the system interpreter, not in any virtualenv on PATH.
exec /usr/bin/python3 "$here/build_template.py" "$@"
