#!/usr/bin/env bash
# Installs every Debian package the build and the tests need.
# Non-interactive and safe to run again; run as root (or through sudo).
set -euo pipefail

packages=(
  cmake pkg-config g++ make
  qt6-base-dev qt6-declarative-dev libqt6sql6-sqlite
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  libtag1-dev zlib1g-dev libsqlite3-dev ffmpeg libchromaprint-tools
  xvfb xauth libgl1-mesa-dri fonts-dejavu-core
  dosfstools exfatprogs exfat-fuse mtools fdisk
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
