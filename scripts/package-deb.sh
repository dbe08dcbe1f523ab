#!/usr/bin/env bash
# The Debian packages, from a Release build with Debian's build flags
# (dpkg-buildflags, all hardening), prefix /usr and the multiarch library
# directory, without sanitizers or the tests' clock: CPack's DEB generator
# makes one package of each install component (cmake/package-deb.cmake),
# then lintian checks them; any lintian error fails.
#   OUTDIR/libdoorlink<SOVERSION>_<VERSION>-<REVISION>_<ARCH>.deb
#   OUTDIR/libdoorlink-dev_<VERSION>-<REVISION>_<ARCH>.deb
#   OUTDIR/doorlink-tools_<VERSION>-<REVISION>_<ARCH>.deb
#   OUTDIR/doorlinkd_<VERSION>-<REVISION>_<ARCH>.deb
#   OUTDIR/lintian-deb.txt   what lintian said (also printed)
# The build lies in OUTDIR/work/deb. Needs dpkg-dev, lintian, help2man and
# file (scripts/install-deps.sh --deb installs them).
# Usage: package-deb.sh OUTDIR [JOBS]
set -euo pipefail
mkdir -p "$1"
out=$(cd "$1" && pwd)
jobs=${2:-$(nproc)}
source=$(cd "$(dirname "$0")/.." && pwd)
build="$out/work/deb"
umask 022

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# CMake reads no CPPFLAGS: they go with the compiler flags. The build flags
# map the source directory away (-ffile-prefix-map), from where they are asked.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { (cd "$source" && dpkg-buildflags --get "$1"); }
cppflags=$(flags CPPFLAGS)
cmake -S "$source" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DDOORLINK_DEB_PACKAGES=ON \
    -DDOORLINK_BUILD_TESTS=OFF -DDOORLINK_BUILD_BENCH=OFF -DDOORLINKD_TEST_CLOCK=OFF -DDOORLINK_UNITY=ON \
    -DCMAKE_C_FLAGS="$(flags CFLAGS) $cppflags" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $cppflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$build" -j "$jobs"

rm -rf "$build/cpack"
(cd "$build" && cpack --config CPackConfig.cmake -B "$build/cpack" >"$build/cpack.log" 2>&1) ||
    { cat "$build/cpack.log"; exit 1; }
packages=("$build"/cpack/*.deb)
rm -f "$out"/libdoorlink*_*.deb "$out"/doorlink-tools_*.deb "$out"/doorlinkd_*.deb
mv "${packages[@]}" "$out/"
packages=("${packages[@]/#"$build/cpack"/$out}")

echo "Debian packages in $out:"
for package in "${packages[@]}"; do
    printf '  %-48s %8s bytes\n' "${package##*/}" "$(stat -c %s "$package")"
done
# lintian's errors fail; its warnings and notes are printed and kept.
status=0
lintian --fail-on error --display-info "${packages[@]}" >"$out/lintian-deb.txt" 2>&1 || status=$?
if [ -s "$out/lintian-deb.txt" ]; then
    echo "lintian:"
    sed 's/^/  /' "$out/lintian-deb.txt"
else
    echo "lintian: nothing to report"
fi
if [ $status -ne 0 ]; then
    echo "lintian found errors in the Debian packages" >&2
    exit 1
fi
