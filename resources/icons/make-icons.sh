#!/bin/sh
# Renders veltrane.svg to the PNG sizes of the application icon.
# Needs rsvg-convert (Debian librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 32 48 128 256; do
    rsvg-convert -w "$size" -h "$size" -o "veltrane-$size.png" veltrane.svg
done
ls -l veltrane-*.png
