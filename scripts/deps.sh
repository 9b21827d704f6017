#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev libtiff-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev
  libudev-dev libblkid-dev libasound2-dev libgtest-dev fonts-dejavu-core
  xdg-utils # xdg-open, through which help, the web link and recovered files open
  xvfb xauth dosfstools mtools ffmpeg mjpegtools mount pngcheck libtiff-tools netpbm
  openbox x11-utils # a window manager for the screenshots, and xprop to wait for it
  python3-fusepy fuse3 # a file that fails chosen reads, under a loop device, for the media tests
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
