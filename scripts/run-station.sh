#!/usr/bin/env bash
# Installs what is missing, builds, starts the local relay and runs the station against it
# with a virtual motorised camera; the station starts its posting helper itself. Prints the
# address of the camera's page. Without a display the station runs headless and unattended.
# Stop it with Ctrl+C: the station closes cleanly (its helper takes the camera off the live
# list), then the relay is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

station=build/station
# The relay listens where the station's deployment file sends it (MainPort, 8080 as shipped).
config="${KESTROVA_CONFIG:-$station/deployment.conf}"
setting() { sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*\([A-Za-z0-9_.-]*\).*/\1/p" "$config" 2>/dev/null | head -n 1; }
port="$(setting MainPort)"
port="${port:-8080}"
relay_log="$PWD/build/reflector.log"
relay_pid=
stop_relay() {
    if [ -n "$relay_pid" ]; then
        kill -TERM "$relay_pid" 2>/dev/null || true
        wait "$relay_pid" 2>/dev/null || true
    fi
}
trap stop_relay EXIT

# The relay in a session of its own, so that Ctrl+C reaches only the station: the relay must
# outlive the station's close, which takes the camera off the live list through it.
setsid "$station/reflector" --host 127.0.0.1 --port "$port" >"$relay_log" 2>&1 </dev/null &
relay_pid=$!
for _ in $(seq 100); do
    grep -q "listening on" "$relay_log" 2>/dev/null && break
    if ! kill -0 "$relay_pid" 2>/dev/null; then
        echo "The relay did not start:" >&2
        cat "$relay_log" >&2
        exit 1
    fi
    sleep 0.1
done
echo "Relay on http://127.0.0.1:$port/ (its log: $relay_log)"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen KESTROVA_UNATTENDED=1
fi
export KESTROVA_VIRTUAL_CAMERAS="${KESTROVA_VIRTUAL_CAMERAS:-Creative WebCam Live! Motion}"
"$station/webcam" "$@" &
station_pid=$!
trap 'kill -TERM "$station_pid" 2>/dev/null' INT TERM

# The camera's identifier: the deployment file's, else the one the station keeps in its data
# folder (written at its first start).
camera="$(setting CameraId)"
data="${XDG_DATA_HOME:-$HOME/.local/share}/Kestrova/Webcam_3_0"
for _ in $(seq 100); do
    [ -n "$camera" ] && break
    [ -s "$data/camera.id" ] && camera="$(tr -cd 'A-Za-z0-9_-' <"$data/camera.id")"
    [ -n "$camera" ] && break
    kill -0 "$station_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -n "$camera" ]; then
    echo "Watch the camera: http://127.0.0.1:$port/webcams/index.jsp?id=$camera"
    echo "Live cameras:     http://127.0.0.1:$port/livelist.php"
else
    echo "The camera's page is listed on http://127.0.0.1:$port/"
fi
echo "Stop with Ctrl+C."

wait "$station_pid" || true
wait "$station_pid" 2>/dev/null || true
