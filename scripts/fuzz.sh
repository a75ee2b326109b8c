#!/usr/bin/env bash
# Runs one fuzz target for real: scripts/fuzz.sh NAME SECONDS; scripts/fuzz.sh --list names them.
# The libFuzzer targets are built with clang, every library instrumented (-DKESTROVA_FUZZ=ON),
# in build-fuzz/ (Debian's clang and libclang-rt-14-dev are installed when missing). A run
# starts from the target's seed corpus and what earlier runs found (build-fuzz/fuzz-corpus/NAME,
# never the seed corpus itself), uses the target's dictionary, leaves a crashing input in
# build-fuzz/fuzz-artifacts/NAME/, and ends with the executions per second and the totals.
# The target "beacon" throws generated request lines at the posting helper (a Java harness)
# for the given time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"

# name  program  folder under tests/fuzz  dictionary in that folder ("-": none)
targets=(
    "answers        answers_fuzzer             answers        answers.dict"
    "pantilt        pantilt_descriptor_fuzzer  pantilt        -"
    "ptz            ptz_packet_fuzzer          ptz            ptz.dict"
    "station_files  station_files_fuzzer       station_files  station_files.dict"
    "relay_request  relay_request_fuzzer       relay_request  request.dict"
    "relay_routes   relay_routes_fuzzer        relay_routes   routes.dict"
    "relay_config   relay_config_fuzzer        relay_config   config.dict"
    "shared_stores  shared_stores_fuzzer       shared_stores  shared.dict"
    "beacon         -                          beacon         -"
)

usage() {
    echo "usage: scripts/fuzz.sh NAME SECONDS    (scripts/fuzz.sh --list names the targets)" >&2
    exit 2
}

if [ "${1:-}" = "--list" ]; then
    for t in "${targets[@]}"; do
        read -r name _ <<<"$t"
        echo "$name"
    done
    exit 0
fi
[ $# -eq 2 ] || usage
wanted="$1"
seconds="$2"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage

found=""
for t in "${targets[@]}"; do
    read -r name program folder dict <<<"$t"
    if [ "$name" = "$wanted" ]; then
        found=1
        break
    fi
done
[ -n "$found" ] || { echo "no fuzz target '$wanted' (scripts/fuzz.sh --list)" >&2; exit 2; }

if [ "$name" = "beacon" ]; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" -j2 --target BeaconServer station_jre beacon_request_fuzz >/dev/null
    exec java -cp "$root/build/tests/fuzz/beacon/beacon_request_fuzz.jar" \
        org.kestrova.beaconfuzz.RequestFuzz "$root/build/station/jre/bin/java" \
        "$root/build/station/BeaconServer.jar" --seconds "$seconds"
fi

# clang with the fuzzer runtime.
if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null |
    grep -q "install ok installed"; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
        clang libclang-rt-14-dev
fi
"$root/scripts/install-deps.sh"

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKESTROVA_FUZZ=ON -DKESTROVA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "$program"

seeds="$root/tests/fuzz/$folder/corpus"
work="$build/fuzz-corpus/$name"
artifacts="$build/fuzz-artifacts/$name/"
mkdir -p "$work" "$artifacts"
options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts"
    -timeout=20)
[ "$dict" = "-" ] || options+=(-dict="$root/tests/fuzz/$folder/$dict")
binary="$(find "$build/tests" -type f -name "$program" -perm -u+x | head -n1)"
log="$build/fuzz-$name.log"
echo "Fuzzing $name for $seconds s (log: $log)"
set +e
QT_QPA_PLATFORM=offscreen "$binary" "${options[@]}" "$work" "$seeds" >"$log" 2>&1
status=$?
set -e
runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)"
corpus="$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -n1)"
cover="$(grep -o 'cov: [0-9]*' "$log" | tail -n1)"
echo "$name: ${runs:-?} executions in $seconds s, ${speed:-?} per second; $cover, $corpus"
if [ $status -ne 0 ]; then
    echo "$name: the fuzzer found a fault (exit $status); the input is in $artifacts" >&2
    grep -m5 -E "ERROR|SUMMARY|runtime error" "$log" >&2 || true
    exit 1
fi
