#!/usr/bin/env bash
# Installs the Debian 12 packages Veltrane needs to build, run and test, when
# they are missing. Uses sudo only when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools fonts-liberation2
  libreoffice-writer-nogui libreoffice-dev libpoppler-qt6-dev
  antiword catdoc xvfb xauth
  desktop-file-utils appstream x11-utils strace
  fonts-dejavu-core fonts-lohit-deva fonts-wqy-microhei fonts-symbola
  poppler-utils python3-uno
  fusefat dosfstools
  libcups2-dev cups
  zlib1g-dev lintian man-db unzip
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
