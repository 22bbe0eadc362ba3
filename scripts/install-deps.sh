#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Cuelark needs.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6sql6-sqlite libqt6multimedia6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  libsimpleini-dev libjpeg62-turbo-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  sqlite3 xvfb xauth ffmpeg python3
  clang libclang-rt-14-dev
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

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
