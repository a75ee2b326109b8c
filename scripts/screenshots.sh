#!/usr/bin/env bash
# Photographs the station's windows for the README into docs/screenshots/: a first start
# (camera chooser and broadcast wizard) against the local relay, with a virtual motorised
# camera, on a virtual X display (Xvfb). The program takes the pictures itself
# (KESTROVA_SCREENSHOTS) and closes when it has them all.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"

scripts/install-deps.sh
# The virtual display (not needed by the build or the tests).
if ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
        xvfb xauth
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target webcam station_assets station_jre reflector

work="$(mktemp -d)"
relay_pid=
cleanup() {
    [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A relay of its own on a free port, with empty data, so the station registers and uploads.
. scripts/free-port.sh
port="$(free_port)"
build/station/reflector --host 127.0.0.1 --port "$port" --data "$work/relay" >"$work/relay.log" 2>&1 &
relay_pid=$!
for _ in $(seq 50); do grep -q listening "$work/relay.log" 2>/dev/null && break; sleep 0.1; done
cat >"$work/deployment.conf" <<CONF
[service]
MainHost=127.0.0.1
MainPort=$port
SecondaryHost=127.0.0.1:$port
SupportEmail=support@localhost
[station]
CameraId=garden-cam
CONF

mkdir -p "$out"
# The pictures of the station's windows only: the viewer pages' come from another script.
find "$out" -maxdepth 1 -name '*.png' ! -name 'viewer-*' -delete
# A fresh data folder: the first start shows the camera chooser and the wizard.
env XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" \
    KESTROVA_CONFIG="$work/deployment.conf" \
    KESTROVA_VIRTUAL_CAMERAS="Logitech QuickCam Orbit" \
    KESTROVA_SCREENSHOTS="$(realpath "$out")" \
    QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x960x24" build/station/webcam

ls "$out"
