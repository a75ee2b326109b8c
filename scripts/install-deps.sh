#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running the station need. With --tests
# also what the tests need: nginx (run by a test in front of the relay), PostgreSQL 15,
# redis-server and haproxy (started by the tests on ports of their own), Debian's chromium and
# node with the pinned playwright-core that the browser tests drive it with.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tests=false
[ "${1:-}" = "--tests" ] && tests=true

packages=(
    cmake g++ make pkg-config binutils
    qt6-base-dev libqt6opengl6-dev
    libv4l-dev libjpeg62-turbo-dev
    libboost1.81-dev libsqlite3-dev libsodium-dev
    libpq-dev libhiredis-dev
    openjdk-17-jdk-headless
    libgtest-dev
    openssl libssl-dev
    fonts-dejavu-core
)
if $tests; then
    packages+=(nginx postgresql-15 redis-server haproxy chromium)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node and npm run the browser scripts; any node from 18 on will do, Debian's included.
if $tests && { ! command -v node >/dev/null || ! command -v npm >/dev/null; }; then
    missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

$tests || exit 0
# playwright-core as package-lock.json pins it, without a browser of its own (it drives
# Debian's chromium).
browser="$root/tests/e2e/browser"
wanted="$(sed -n 's/.*"playwright-core": "\([^"]*\)".*/\1/p' "$browser/package.json")"
installed="$(sed -n 's/^  "version": "\([^"]*\)".*/\1/p' \
    "$browser/node_modules/playwright-core/package.json" 2>/dev/null || true)"
if [ "$installed" != "$wanted" ]; then
    (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
fi
