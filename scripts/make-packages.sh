#!/usr/bin/env bash
# Makes the Debian packages kestrova-station, kestrova-relay and libpantilt-dev in build/ from
# a build of their own in build-deb/ (prefix /usr, Debian's hardening flags, stripped), and
# checks them with lintian. Installs what is missing first (through sudo when not root).
# Then: sudo apt-get install ./build/kestrova-*.deb (docs/packaging.md).
set -euo pipefail
cd "$(dirname "$0")/.."
# The packages' folders and files get the modes Debian expects, whatever the caller's umask.
umask 022
scripts/install-deps.sh

# What making and checking the packages needs beyond the build: dpkg-shlibdeps and
# dpkg-buildflags (dpkg-dev), file (cpack's test for programs and libraries), lintian.
tools=(dpkg-dev file lintian)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

# The compiler and linker flags Debian builds its own packages with (hardening included).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DKESTROVA_DEBIAN_LAYOUT=ON -DKESTROVA_PROGRAM_DIR=lib/kestrova \
    -DKESTROVA_BUILD_TESTS=OFF -DKESTROVA_BUILD_BENCH=OFF "-DCMAKE_STRIP=$PWD/packaging/strip.sh" \
    "-DCMAKE_C_FLAGS=$cflags" "-DCMAKE_CXX_FLAGS=$cxxflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" \
    "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build build-deb -j"$(nproc)"

rm -rf build-deb/packages
cpack --config build-deb/CPackConfig.cmake -B build-deb/packages >/dev/null
mkdir -p build
rm -f build/kestrova-station_*.deb build/kestrova-relay_*.deb build/libpantilt-dev_*.deb
cp build-deb/packages/*.deb build/
ls -1 build/kestrova-station_*.deb build/kestrova-relay_*.deb build/libpantilt-dev_*.deb

# No errors; the warnings left are explained in docs/packaging.md.
lintian --fail-on error build/kestrova-station_*.deb build/kestrova-relay_*.deb \
    build/libpantilt-dev_*.deb
