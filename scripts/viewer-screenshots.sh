#!/usr/bin/env bash
# Photographs the relay's viewer pages for the README into docs/screenshots/ (viewer-*.png):
# the relay, the station with its virtual motorised camera and its posting helper run
# headless on a free port with fresh data, some presets, archive pictures, a profile and chat
# messages are added as an owner and viewers would, and headless Chromium takes the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs/screenshots}")"

scripts/install-deps.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target webcam station_assets station_jre BeaconServer reflector

work="$(mktemp -d)"
relay_pid=
station_pid=
cleanup() {
    [ -n "$station_pid" ] && kill -TERM "$station_pid" 2>/dev/null && wait "$station_pid" 2>/dev/null
    [ -n "$relay_pid" ] && kill -TERM "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

. scripts/free-port.sh
port="$(free_port)"
base="http://127.0.0.1:$port"
build/station/reflector --host 127.0.0.1 --port "$port" --data "$work/relay" >"$work/relay.log" 2>&1 &
relay_pid=$!
for _ in $(seq 50); do grep -q listening "$work/relay.log" 2>/dev/null && break; sleep 0.1; done

camera=garden-cam
cat >"$work/deployment.conf" <<CONF
[service]
MainHost=127.0.0.1
MainPort=$port
SecondaryHost=127.0.0.1:$port
SupportEmail=support@localhost
[station]
CameraId=$camera
CONF
env XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" KESTROVA_CONFIG="$work/deployment.conf" \
    KESTROVA_VIRTUAL_CAMERAS="Creative WebCam Live! Motion" KESTROVA_POSTING_PORT="$((port + 1))" \
    QT_QPA_PLATFORM=offscreen KESTROVA_UNATTENDED=1 build/station/webcam >"$work/station.log" 2>&1 &
station_pid=$!
for _ in $(seq 300); do
    curl -sf "$base/live/check?id=$camera" | grep -q "Listed: true" && break
    sleep 0.1
done

post() { curl -sf -o /dev/null -X POST --data "$2" "$base$1"; }
# The options an owner would switch on (the station sends its own again when one changes).
post /webcams/SyncWebcams "id=$camera&path=webcams&zoom=true&snapshot=true&chat=true&secure=false&password=vorda&ptz=true&presets=true&archive=true&chatID=Garden%20Chat:0"
# Presets and the profile, from the station's own machine.
post /webcams/admin/index.jsp "id=$camera&action=save-preset&name=Garden%20gate&pan=-1920&tilt=240&zoom=100"
post /webcams/admin/index.jsp "id=$camera&action=save-preset&name=Pond&pan=1600&tilt=-480&zoom=200"
post /webcams/admin/index.jsp "id=$camera&action=save-preset&name=Rooftops&pan=0&tilt=960&zoom=100"
post /description.php "id=$camera&name=Garden%20Camera&description=The%20back%20garden%2C%20the%20pond%20and%20the%20hills%20beyond."
# Archive pictures: the camera's picture now and then, as the station's archive would send it.
for i in 1 2 3 4 5 6; do
    curl -sf -o "$work/frame.jpg" "$base/webcams/live?id=$camera"
    curl -sf -o /dev/null -F "id=$camera" -F path=webcams -F "frame=@$work/frame.jpg;type=image/jpeg" "$base/webcams/Archive"
    post /webcams/command "id=$camera&cmd=pan_right"
    sleep 1.2
done
post /webcams/command "id=$camera&cmd=set_motor_home"
# Two more cameras in the live list: one behind a password, one without its thumbnail.
for other in "attic-cam&name=Attic%20owls&password=1&hidethumb=0" "harbour-cam&name=Harbour&password=0&hidethumb=1"; do
    post /live/post "id=$other&email=%20&relay=127.0.0.1:$port&folder=webcams&type=1&ptz=0&listed=1&archive=0"
done
post /fchat/send "room=Garden%20Chat:0&name=Ann&text=The%20heron%20is%20back%20at%20the%20pond!"
post /fchat/send "room=Garden%20Chat:0&name=Ben&text=Pan%20left%2C%20it%20is%20by%20the%20gate%20now."

mkdir -p "$out"
(cd tests/e2e/browser && node screenshots.js "$base" "$camera" "$out")
