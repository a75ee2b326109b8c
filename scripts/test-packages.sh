#!/usr/bin/env bash
# The Debian packages as a user gets them: makes them (scripts/make-packages.sh), installs them
# with apt-get, runs the installed relay as a plain process and the installed station headless
# against it with a virtual camera until a frame arrives at the relay, then purges the packages
# and checks that none of their files is left.
#
# Run as root on a machine where installing and removing packages is fine (CI). Packages of
# ours left over from an earlier run are purged first, and ours are purged at the end whether
# the test passes or not. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
    echo "test-packages.sh: run as root: it installs and purges packages" >&2
    exit 1
fi

packages=(kestrova-station kestrova-relay libpantilt-dev)
export DEBIAN_FRONTEND=noninteractive
work=
station_pid=
relay_pid=

say() { echo "test-packages: $*"; }
fail() {
    echo "test-packages: FAILED: $*" >&2
    for log in relay.log station.log data/Kestrova/Webcam_3_0/Log.txt; do
        if [ -n "$work" ] && [ -s "$work/$log" ]; then
            echo "---- $log (end)" >&2
            tail -n 30 "$work/$log" >&2
        fi
    done
    exit 1
}

# Our packages that dpkg knows in any state but "not installed".
known_packages() {
    local p
    for p in "${packages[@]}"; do
        if dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^.[^n]'; then
            echo "$p"
        fi
    done
}

purge_ours() {
    local present
    mapfile -t present < <(known_packages)
    if [ ${#present[@]} -gt 0 ]; then
        apt-get purge -y -qq "${present[@]}" >/dev/null
    fi
}

# Ends a process this script started: SIGTERM, then SIGKILL after `seconds`. Returns non-zero
# when it had to be killed.
stop_process() {
    local pid=$1 seconds=$2 i
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for ((i = 0; i < seconds * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 1
}

cleanup() {
    stop_process "$station_pid" 5 || true
    stop_process "$relay_pid" 5 || true
    purge_ours || true
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT

. scripts/free-port.sh

# Waits up to `seconds` for the command to succeed while the process `pid` runs.
wait_for() {
    local seconds=$1 pid=$2 i
    shift 2
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

purge_ours
scripts/make-packages.sh
debs=()
for p in "${packages[@]}"; do
    debs+=("$(ls build/"${p}"_*.deb)")
done

work=$(mktemp -d /tmp/kestrova-packages.XXXXXX)
# Every path the packages hold, and those of them that exist before the installation (shared
# folders such as /usr/bin): after the purge nothing else may be left.
for deb in "${debs[@]}"; do
    dpkg-deb --fsys-tarfile "$deb" | tar -t
done | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^$' | sort -u >"$work/package-paths"
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$work/package-paths" >"$work/existing-before"

say "installing ${debs[*]}"
apt-get install -y -qq "${debs[@]/#/./}" >"$work/apt-install.log" 2>&1 ||
    { cat "$work/apt-install.log" >&2; fail "apt-get install"; }
for p in "${packages[@]}"; do
    dpkg-query -L "$p"
done | sort -u >"$work/dpkg-L"
missing=$(comm -23 "$work/package-paths" "$work/dpkg-L")
[ -z "$missing" ] || fail "dpkg does not list these files of the packages: $missing"

# The installed layout.
dpkg-query -W -f='${Conffiles}\n' kestrova-station | grep -q '/etc/kestrova/deployment.conf' ||
    fail "deployment.conf is not a conffile"
dpkg-query -W -f='${Conffiles}\n' kestrova-relay | grep -q '/etc/kestrova/reflector.conf' ||
    fail "reflector.conf is not a conffile"
[ -L /etc/systemd/system/multi-user.target.wants/kestrova-relay.service ] ||
    fail "the relay's service is not enabled"
if command -v systemd-analyze >/dev/null; then
    # With man-db it also looks the service's manual page up.
    man_check=yes
    command -v man >/dev/null || man_check=no
    systemd-analyze verify --man="$man_check" /usr/lib/systemd/system/kestrova-relay.service ||
        fail "systemd-analyze verify rejects the relay's service"
else
    say "no systemd-analyze here: the service file is not verified"
fi
/usr/lib/kestrova/jre/bin/java -version >"$work/java-version" 2>&1 ||
    fail "the program folder's jre/bin/java does not run: $(cat "$work/java-version")"
grep -q '^openjdk version "17' "$work/java-version" ||
    fail "jre/bin/java is not Java 17: $(cat "$work/java-version")"
mkdir -p "$work/elsewhere"
version=$(cd "$work/elsewhere" && kestrova-webcam --version) || fail "kestrova-webcam --version"
[ "$version" = "kestrova-webcam $(dpkg-query -W -f='${Version}' kestrova-station | cut -d- -f1)" ] ||
    fail "kestrova-webcam --version says '$version'"
(cd "$work/elsewhere" && pantilt-ctl --help >/dev/null) || fail "pantilt-ctl does not start"
relay_version=$(reflector --version) || fail "reflector --version"
[ "$relay_version" = "reflector $(dpkg-query -W -f='${Version}' kestrova-relay | cut -d- -f1)" ] ||
    fail "reflector --version says '$relay_version'"
# The development package: a program of others built against the packaged library.
cat >"$work/uses-pantilt.c" <<'EOF'
#include <pantilt.h>
int main(void) { return HID_IsMotorOpened(); }
EOF
# shellcheck disable=SC2046
cc -o "$work/uses-pantilt" "$work/uses-pantilt.c" $(pkg-config --cflags --libs pantilt) ||
    fail "a program does not build with pkg-config pantilt"
"$work/uses-pantilt" || fail "a program built with pkg-config pantilt does not run"

# The installed relay as a plain process, on a free port with a data folder of its own.
for attempt in 1 2 3 4 5; do
    relay_port=$(free_port) || fail "no free port"
    # The service's own configuration file, its port overridden on the command line.
    /usr/bin/reflector --config /etc/kestrova/reflector.conf --port "$relay_port" \
        --data "$work/relay-data" >"$work/relay.log" 2>&1 &
    relay_pid=$!
    if wait_for 10 "$relay_pid" grep -q "listening on 127.0.0.1 port $relay_port" "$work/relay.log"; then
        break
    fi
    stop_process "$relay_pid" 5 || true
    relay_pid=
    [ "$attempt" -lt 5 ] || fail "the installed relay does not start"
done
say "relay listening on 127.0.0.1 port $relay_port"

# The installed station, started by name from another folder with nothing of the build around,
# headless with a virtual motorised camera.
camera_id="pkgtest${RANDOM}${RANDOM}"
cat >"$work/deployment.conf" <<EOF
[service]
MainHost=127.0.0.1
MainPort=$relay_port
SecondaryHost=127.0.0.1:$relay_port
SupportEmail=support@localhost
[station]
CameraId=$camera_id
EOF
posting_port=$(free_port) || fail "no free port"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
env -i -C "$work/elsewhere" PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 \
    XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen KESTROVA_UNATTENDED=1 \
    KESTROVA_VIRTUAL_CAMERAS="Logitech QuickCam Orbit" KESTROVA_CONFIG="$work/deployment.conf" \
    KESTROVA_POSTING_PORT="$posting_port" kestrova-webcam >"$work/station.log" 2>&1 &
station_pid=$!

frame="$work/relay-data/frames/$camera_id.jpg"
wait_for 90 "$station_pid" test -s "$frame" || fail "no frame of the station reached the relay"
say "a frame of $(stat -c %s "$frame") bytes reached the relay"
helper_log="$work/data/Kestrova/Webcam_3_0/BeaconServer.log"
wait_for 30 "$station_pid" test -s "$helper_log" ||
    fail "the posting helper did not start on the packaged runtime"

stop_process "$station_pid" 30 || fail "the station did not end on SIGTERM"
station_pid=
# The helper that this station started (its port is on its command line) ends with it.
helper_pids() {
    local proc
    for proc in /proc/[0-9]*; do
        if tr '\0' ' ' <"$proc/cmdline" 2>/dev/null |
            grep -q -- "/usr/lib/kestrova/BeaconServer.jar $posting_port "; then
            echo "${proc#/proc/}"
        fi
    done
}
for ((i = 0; i < 100; i++)); do
    [ -n "$(helper_pids)" ] || break
    sleep 0.1
done
helpers=$(helper_pids)
if [ -n "$helpers" ]; then
    # shellcheck disable=SC2086
    kill $helpers 2>/dev/null || true
    fail "the posting helper did not end with the station"
fi
stop_process "$relay_pid" 10 || fail "the relay did not end on SIGTERM"
relay_pid=

say "purging ${packages[*]}"
apt-get purge -y -qq "${packages[@]}" >"$work/apt-purge.log" 2>&1 ||
    { cat "$work/apt-purge.log" >&2; fail "apt-get purge"; }
[ -z "$(known_packages)" ] || fail "dpkg still knows $(known_packages | tr '\n' ' ')"
left=()
while read -r path; do
    grep -qxF "$path" "$work/existing-before" && continue
    if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/dpkg-L"
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"
[ ! -e /etc/kestrova ] || fail "/etc/kestrova is left after the purge"
left_service=$(find /etc/systemd /var/lib/systemd -name 'kestrova-relay*' 2>/dev/null || true)
[ -z "$left_service" ] || fail "left after the purge: $left_service"
say "passed"
