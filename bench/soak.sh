#!/usr/bin/env bash
# The soak: bench/soak.sh [MINUTES]   (default 30; from 3 to 720)
#
# On loopback only, in a temporary folder, on free ports: the relay (embedded storage), the
# station headless with the virtual "Creative WebCam Live! Motion" camera in debug mode and its
# posting helper (as scripts/run-station.sh starts them), and the synthetic load of
# reflector_soak_load for MINUTES: 20 stations uploading once a second with keys of their own,
# 100 viewers polling the latest frame once a second on kept connections, 20 live streams, a
# viewer's command every second to the station's camera through the relay. Halfway through, the
# posting helper is killed (SIGKILL); the station starts it again.
#
# Every minute it samples the resident memory, open files and threads of the relay, the
# station and the helper (from /proc) and prints them. At the end it fails (exit status 1,
# saying why) when
#   - an upload was not answered 200, a viewer or a stream got a wrong answer, or a command
#     was refused (the load's own checks);
#   - a command the relay accepted (204) did not reach the station's motor (the station's
#     event log, "PTZ listener: carried out ..."), unless the relay dropped it by design while
#     the helper was down: taken by the killed helper, or older than the commands' time to
#     live (--command-ttl, 5 s) when the new helper polled again;
#   - a figure keeps growing after warm-up: the first third of a process's samples is its
#     warm-up; the median of the last third may pass the median of the middle third by at most
#     4 MiB + 5 % (memory), 4 (open files) or 2 (threads). The helper's figures count from its
#     restart.
# Every process it started is ended when it ends, also on Ctrl+C. Its folder is removed after
# a run that passed and kept (and named) after one that failed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
station_dir="$build/station"
load_program="$build/bench/reflector/reflector_soak_load"
ttl=5

minutes="${1:-30}"
if ! [[ "$minutes" =~ ^[0-9]+$ ]] || [ "$minutes" -lt 3 ] || [ "$minutes" -gt 720 ]; then
    echo "usage: bench/soak.sh [MINUTES]   (from 3 to 720, default 30)" >&2
    exit 2
fi
seconds=$((minutes * 60))

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "No build in $build: run scripts/build.sh first." >&2
    exit 2
fi
echo "Building what the soak runs ..."
cmake --build "$build" -j2 --target reflector webcam BeaconServer station_jre \
    reflector_soak_load >/dev/null

# shellcheck source=scripts/free-port.sh
. "$root/scripts/free-port.sh"
work="$(mktemp -d /tmp/kestrova-soak-XXXXXX)"
data="$work/station-data/Kestrova/Webcam_3_0"
relay_pid=
station_pid=
helper_pid=
load_pid=
# The folder is kept unless the soak passes, also when the script itself fails.
keep_work=true

# Ends what is still running, the station first so that it closes its helper itself.
# shellcheck disable=SC2317  # run by the trap
cleanup() {
    trap - EXIT INT TERM
    if [ -n "$load_pid" ]; then
        kill -TERM "$load_pid" 2>/dev/null || true
    fi
    if [ -n "$station_pid" ] && kill -0 "$station_pid" 2>/dev/null; then
        kill -TERM "$station_pid" 2>/dev/null || true
        for _ in $(seq 300); do
            kill -0 "$station_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$station_pid" 2>/dev/null || true
    fi
    # The helper outlives a station that did not close: it is ended by its own id.
    if [ -n "$helper_pid" ] && grep -qs BeaconServer "/proc/$helper_pid/cmdline"; then
        kill -KILL "$helper_pid" 2>/dev/null || true
    fi
    if [ -n "$relay_pid" ]; then
        kill -TERM "$relay_pid" 2>/dev/null || true
        wait "$relay_pid" 2>/dev/null || true
    fi
    wait 2>/dev/null || true
    if $keep_work; then
        echo "The soak's logs and samples: $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'echo "Interrupted."; keep_work=true; exit 130' INT TERM

now_ms() { date +%s%3N; }

# The posting helper the station runs now: its child with BeaconServer.jar on the command line.
current_helper() {
    pgrep -P "$station_pid" -f BeaconServer.jar 2>/dev/null | head -n 1 || true
}

# ---- the relay ----
relay_port="$(free_port)"
"$station_dir/reflector" --host 127.0.0.1 --port "$relay_port" --data "$work/relay" \
    --command-ttl "$ttl" >"$work/relay.log" 2>&1 </dev/null &
relay_pid=$!
for _ in $(seq 100); do
    grep -q "listening on" "$work/relay.log" 2>/dev/null && break
    kill -0 "$relay_pid" 2>/dev/null || { cat "$work/relay.log" >&2; exit 1; }
    sleep 0.1
done

# ---- the station and its helper ----
camera=soak-station
cat >"$work/deployment.conf" <<EOF
[service]
MainHost=127.0.0.1
MainPort=$relay_port
SecondaryHost=127.0.0.1:$relay_port
SupportEmail=help@example.org
[station]
CameraId=$camera
EOF
mkdir -p "$data"
# The C locale makes the event log's times 24-hour HH:MM:SS, as the commands' check reads them.
env XDG_DATA_HOME="$work/station-data" XDG_CONFIG_HOME="$work/config" \
    XDG_CACHE_HOME="$work/cache" KESTROVA_CONFIG="$work/deployment.conf" \
    KESTROVA_POSTING_PORT="$(free_port)" KESTROVA_VIRTUAL_CAMERAS="Creative WebCam Live! Motion" \
    QT_QPA_PLATFORM=offscreen KESTROVA_UNATTENDED=1 LC_ALL=C \
    "$station_dir/webcam" debug >"$work/station.out" 2>&1 </dev/null &
station_pid=$!
polling_started() {
    local count
    count="$(grep -c "Polling: started" "$data/BeaconServer.log" 2>/dev/null || true)"
    echo "${count:-0}"
}
for _ in $(seq 1200); do
    [ "$(polling_started)" -ge 1 ] && break
    if ! kill -0 "$station_pid" 2>/dev/null; then
        echo "The station ended before its helper polled the relay:" >&2
        cat "$work/station.out" >&2
        keep_work=true
        exit 1
    fi
    sleep 0.1
done
helper_pid="$(current_helper)"
if [ "$(polling_started)" -lt 1 ] || [ -z "$helper_pid" ]; then
    echo "The station's helper did not start polling the relay within 2 minutes." >&2
    keep_work=true
    exit 1
fi
echo "Relay on 127.0.0.1:$relay_port, station $camera (pid $station_pid), helper pid $helper_pid"

# ---- the load, the samples, the kill ----
"$load_program" load "$relay_port" "$camera" "$seconds" "$work" >"$work/load.out" 2>&1 &
load_pid=$!
started="$(now_ms)"
samples="$work/samples.txt"
: >"$samples"

# One row of the table: each process's resident memory (MiB), open files and threads.
sample() {
    local minute="$1" row name pid rss files threads
    row="$(printf '%6s' "$minute")"
    for name in relay station helper; do
        case $name in
        relay) pid=$relay_pid ;;
        station) pid=$station_pid ;;
        helper) pid=$helper_pid ;;
        esac
        rss=
        if [ -n "$pid" ]; then
            # Nothing for a process that has ended (a zombie has no memory).
            # A process may end (and be reaped) between these reads.
            rss="$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status" \
                2>/dev/null || true)"
        fi
        if [ -n "$rss" ]; then
            threads="$(sed -n 's/^Threads:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null || true)"
            files="$( (find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null || true) | wc -l)"
            echo "$minute $name $pid $rss $files $threads" >>"$samples"
            row+="$(awk -v k="$rss" -v f="$files" -v t="$threads" \
                'BEGIN { printf " | %8.1f %5s %7s", k / 1024, f, t }')"
        else
            row+="$(printf ' | %8s %5s %7s' - - -)"
        fi
    done
    echo "$row"
}

echo
echo "minute |   relay: MiB files threads | station: MiB files threads |  helper: MiB files threads"
sample 0
next_sample=60
killed_ms=
back_ms=
polls_before=
while kill -0 "$load_pid" 2>/dev/null; do
    sleep 0.2
    elapsed=$((($(now_ms) - started) / 1000))
    if [ -z "$killed_ms" ] && [ "$elapsed" -ge $((seconds / 2)) ]; then
        polls_before="$(polling_started)"
        killed_ms="$(now_ms)"
        kill -KILL "$helper_pid"
        echo "       (helper pid $helper_pid killed with SIGKILL at $((elapsed / 60)) min $((elapsed % 60)) s)"
    fi
    if [ -n "$killed_ms" ] && [ -z "$back_ms" ] && [ "$(polling_started)" -gt "$polls_before" ]; then
        back_ms="$(now_ms)"
        helper_pid="$(current_helper)"
        awk -v pid="$helper_pid" -v ms=$((back_ms - killed_ms)) \
            'BEGIN { printf "       (helper pid %s polling again %.1f s after the kill)\n", pid, ms / 1000 }'
    fi
    if [ "$elapsed" -ge "$next_sample" ]; then
        sample $((next_sample / 60))
        next_sample=$((next_sample + 60))
    fi
done
set +e
wait "$load_pid"
load_status=$?
set -e
load_pid=

# ---- verdicts ----
echo
cat "$work/load.out"
reasons=()
[ "$load_status" -eq 0 ] || reasons+=("the load got wrong or missing answers (above)")

# The station closes (and ends its helper) before its log is read.
kill -TERM "$station_pid" 2>/dev/null || true
for _ in $(seq 300); do
    kill -0 "$station_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$back_ms" ]; then
    reasons+=("the helper was not polling the relay again after the kill")
    back_ms="$(now_ms)"
fi
set +e
"$load_program" commands "$work/commands.txt" "$data/Log.txt" "$killed_ms" "$back_ms" "$ttl"
commands_status=$?
set -e
[ "$commands_status" -eq 0 ] || reasons+=("commands the relay accepted did not reach the station")

# Growth after warm-up, per process and figure (the helper from its last start).
echo
echo "growth after warm-up (median of the last third against the middle third):"
growth="$(awk -v helper="$helper_pid" '
    function median(list, n,    i, j, t, a) {
        for (i = 1; i <= n; i++) a[i] = list[i]
        for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) {
            t = a[j]; a[j] = a[j - 1]; a[j - 1] = t
        }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    $2 == "helper" && $3 != helper { next }
    { n[$2]++; rss[$2, n[$2]] = $4 / 1024; files[$2, n[$2]] = $5; threads[$2, n[$2]] = $6 }
    END {
        split("relay station helper", names, " ")
        split("rss files threads", figures, " ")
        for (p = 1; p <= 3; p++) {
            name = names[p]; count = n[name]; third = int(count / 3)
            if (third < 1) { printf "  %-8s too few samples (%d)\n", name, count; continue }
            for (f = 1; f <= 3; f++) {
                figure = figures[f]; m = 0; l = 0
                for (i = third + 1; i <= 2 * third; i++) {
                    v = figure == "rss" ? rss[name, i] : figure == "files" ? files[name, i] : threads[name, i]
                    middle[++m] = v
                }
                for (i = count - third + 1; i <= count; i++) {
                    v = figure == "rss" ? rss[name, i] : figure == "files" ? files[name, i] : threads[name, i]
                    last[++l] = v
                }
                a = median(middle, m); b = median(last, l)
                bound = figure == "rss" ? 4 + 0.05 * a : figure == "files" ? 4 : 2
                unit = figure == "rss" ? " MiB" : ""
                verdict = b - a > bound ? "GROWS" : "flat"
                printf "  %-8s %-8s %9.1f -> %9.1f%s (bound +%.1f): %s\n", name, figure, a, b, unit, bound, verdict
            }
        }
    }' "$samples")"
echo "$growth"
while read -r name figure _; do
    reasons+=("the $name's $figure keeps growing after warm-up")
done < <(echo "$growth" | awk '/GROWS$/ { print $1, $2 }')

echo
if [ ${#reasons[@]} -eq 0 ]; then
    keep_work=false
    echo "Soak of $minutes minutes: PASSED (flat after warm-up, no upload or command lost)"
    exit 0
fi
echo "Soak of $minutes minutes: FAILED"
for reason in "${reasons[@]}"; do
    echo "  - $reason"
done
exit 1
