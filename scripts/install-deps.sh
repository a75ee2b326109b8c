#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the station need, and the
# pinned playwright-core that the browser tests drive Chromium with.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
    cmake g++ make pkg-config binutils
    qt6-base-dev libqt6opengl6-dev
    libv4l-dev libjpeg62-turbo-dev
    libboost1.81-dev libsqlite3-dev libsodium-dev
    openjdk-17-jdk-headless
    libgtest-dev
    nginx openssl libssl-dev wrk
    fonts-dejavu-core
    # The browser of the browser tests, the benchmark and the viewer screenshots.
    chromium
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node and npm run the browser scripts; any node from 18 on will do, Debian's included.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# playwright-core as package-lock.json pins it, without a browser of its own (it drives
# Debian's chromium).
browser="$root/tests/e2e/browser"
wanted="$(sed -n 's/.*"playwright-core": "\([^"]*\)".*/\1/p' "$browser/package.json")"
installed="$(sed -n 's/^  "version": "\([^"]*\)".*/\1/p' \
    "$browser/node_modules/playwright-core/package.json" 2>/dev/null || true)"
if [ "$installed" != "$wanted" ]; then
    (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
fi
