#!/usr/bin/env bash
# Installs what is missing, builds, starts the local relay and runs the station against it
# with a virtual motorised camera. Without a display the station runs headless and unattended.
# Stop it with Ctrl+C: the station closes cleanly, then the relay is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

station=build/station
relay_pid=
if [ -x "$station/reflector" ]; then
    "$station/reflector" --host 127.0.0.1 --port 8080 &
    relay_pid=$!
    trap '[ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null; wait' EXIT
    echo "Relay on http://127.0.0.1:8080/ (viewer pages are listed there)"
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen KESTROVA_UNATTENDED=1
fi
export KESTROVA_VIRTUAL_CAMERAS="${KESTROVA_VIRTUAL_CAMERAS:-Logitech QuickCam Orbit}"
"$station/webcam" "$@" &
station_pid=$!
trap 'kill -TERM "$station_pid" 2>/dev/null' INT TERM
wait "$station_pid" || true
wait "$station_pid" 2>/dev/null || true
