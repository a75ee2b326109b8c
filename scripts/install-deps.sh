#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the station need.
set -euo pipefail

packages=(
    cmake g++ make pkg-config binutils
    qt6-base-dev libqt6opengl6-dev
    libv4l-dev libjpeg62-turbo-dev
    libboost1.81-dev libsqlite3-dev libsodium-dev
    openjdk-17-jdk-headless
    libgtest-dev
    nginx openssl libssl-dev wrk
    fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
