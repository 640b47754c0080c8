#!/bin/bash
# Installs the Debian packages the build, the show and the tests need; does nothing when all are there.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libsdl2-dev libmpg123-dev libpng-dev libjpeg-dev zlib1g-dev
  libfreetype-dev fonts-dejavu-core libmp3lame-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev x11-utils xvfb xdotool lame ffmpeg
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
