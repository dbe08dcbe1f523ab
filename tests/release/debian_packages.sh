#!/usr/bin/env bash
# The Debian packages of `make package` used as a user uses them, without
# installing them on this machine: unpacked with dpkg-deb -x into a
# temporary root (no maintainer script runs, no service starts). Then
#   - each package's control fields, copyright and changelog;
#   - pkg-config and the CMake package from the root give the version, and
#     the CMake package takes a request for this minor version and refuses
#     an older one;
#   - the C example (examples/c) is built against the root through
#     pkg-config (PKG_CONFIG_SYSROOT_DIR) and through find_package(doorlink)
#     (CMAKE_PREFIX_PATH), and both builds run against the root's library
#     and the root's doorsim;
#   - the root's doorctl, doorsim and doorlinkd print the version, doorctl
#     sets and reads a clock of that doorsim on a loopback address, and
#     doorlinkd syncs a card to one of its controllers;
#   - doorlinkd's unit, sysusers.d file and configuration (a conffile) are
#     there, the unit passes systemd-analyze verify (where there is one),
#     and doorlinkd serve starts with the configuration and stops on SIGTERM.
# Usage: debian_packages.sh PACKAGE_DIR SOURCE_DIR VERSION
# VERSION: the CMake project's version. Exits with 77 (skipped) where
# dpkg-deb is missing.
set -uo pipefail
packages=$1
source=$2
version=$3
if ! command -v dpkg-deb >/dev/null 2>&1; then
    echo "SKIPPED: dpkg-deb is missing (not a Debian system)"
    exit 77
fi
. "$source/tests/hosts/doorsim.sh"
fail() { echo "FAIL: $*"; exit 1; }

arch=$(dpkg --print-architecture)
runtime=libdoorlink${version%%.*}
root="$work/root"
mkdir -p "$root"
debversion=""
for name in "$runtime" libdoorlink-dev doorlink-tools doorlinkd; do
    found=("$packages/${name}_${version}"-*"_${arch}.deb")
    [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] ||
        fail "not one package ${name}_${version}-*_${arch}.deb in $packages (make package makes them)"
    deb=${found[0]}
    echo "== ${deb##*/}"
    dpkg-deb -f "$deb" Package Version Depends
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$deb: wrong Package field"
    this=$(dpkg-deb -f "$deb" Version)
    [ -z "$debversion" ] || [ "$this" = "$debversion" ] || fail "$deb: version $this, not $debversion"
    debversion=$this
    description=$(dpkg-deb -f "$deb" Description)
    [ "$(printf '%s\n' "$description" | wc -l)" -gt 2 ] || fail "$deb: no long description"
    depends=$(dpkg-deb -f "$deb" Depends)
    if [ "$name" = "$runtime" ]; then
        [[ $depends == *"libc6 (>="* ]] || fail "$deb: no libc6 among the dependencies dpkg-shlibdeps finds"
    else
        [[ $depends == *"$runtime (= $debversion)"* ]] || fail "$deb: does not depend on $runtime (= $debversion)"
    fi
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $deb"
    [ "$name" != doorlinkd ] || service_deb=$deb
    doc="$root/usr/share/doc/$name"
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" &&
        grep -q '^License: Expat' "$doc/copyright" || fail "$doc/copyright: not a DEP-5 file with the licence"
    grep -qF "doorlink ($debversion)" <<<"$(zcat "$doc/changelog.Debian.gz" | head -1)" ||
        fail "$doc/changelog.Debian.gz: no entry for $debversion"
done

library=$(find "$root" -name "libdoorlink.so.${version%%.*}" -type l)
libdir=$(dirname "$library")
if command -v dpkg-architecture >/dev/null 2>&1; then
    [ "$libdir" = "$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" ] ||
        fail "the library is in ${libdir#"$root"}, not in the multiarch directory"
fi
[ "$(stat -c %a "$(readlink -f "$library")")" = 644 ] || fail "the shared library is not 0644"
bin="$root/usr/bin"
export LD_LIBRARY_PATH="$libdir"

echo "== pkg-config and the CMake package"
export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$libdir/pkgconfig"
[ "$(pkg-config --modversion doorlink)" = "$version" ] || fail "pkg-config --modversion doorlink is not $version"
pkg-config --cflags --libs doorlink
mkdir -p "$work/find-package"
IFS=. read -r major minor _ <<<"$version"
find_doorlink() {  # find_doorlink REQUEST: whether find_package(doorlink REQUEST) finds the root's
    printf 'cmake_minimum_required(VERSION 3.16)\nproject(probe LANGUAGES C)\nfind_package(doorlink %s REQUIRED)\n' \
        "$1" >"$work/find-package/CMakeLists.txt"
    rm -rf "$work/find-package/build"
    cmake -S "$work/find-package" -B "$work/find-package/build" -DCMAKE_PREFIX_PATH="$root/usr" \
        >"$work/find-package/log" 2>&1
}
find_doorlink "$major.$minor" || { cat "$work/find-package/log"; fail "find_package(doorlink $major.$minor) failed"; }
grep -q "^doorlink_DIR:PATH=$libdir/cmake/doorlink$" "$work/find-package/build/CMakeCache.txt" ||
    fail "find_package(doorlink) found another doorlink than the root's"
if [ "$minor" -gt 0 ]; then
    ! find_doorlink "$major.$((minor - 1))" || fail "find_package(doorlink $major.$((minor - 1))) took $version"
fi
echo "find_package(doorlink $major.$minor) takes $version; an older minor version is refused"

echo "== the C example built against the root"
mkdir -p "$work/pkg-config"
make -s -C "$work/pkg-config" -f "$source/examples/c/Makefile" CFLAGS="-Wall -Wextra -Werror" \
    >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "the example does not build through pkg-config"; }
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR
{ cmake -S "$source/examples/c" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root/usr" &&
    cmake --build "$work/cmake"; } >"$work/cmake.log" 2>&1 ||
    { cat "$work/cmake.log"; fail "the example does not build through find_package(doorlink)"; }
for example in "$work/pkg-config/doorlink_example" "$work/cmake/doorlink_example"; do
    # Read whole first: grep -q stops at its match, and under pipefail the
    # writer it leaves behind would fail the test on a busy machine.
    grep -q "libdoorlink.so.${version%%.*} => $libdir/" <<<"$(ldd "$example")" ||
        fail "$example does not load the root's library"
done

echo "== doorctl, doorsim and doorlinkd from the root"
for tool in doorctl doorsim doorlinkd; do
    printed=$("$bin/$tool" --version) || fail "$tool --version failed"
    echo "$tool --version: $printed"
    [ "$printed" = "$tool $version" ] || fail "$tool --version does not print $version"
done
start_doorsim "$bin/doorsim" 2
second=$(sed -n 's/^controller 2: \([0-9.]*\):.*/\1/p' "$work/doorsim.log")
mkdir -p "$work/home"
export DOORLINK_HOME="$work/home"
before=$(date +%y-%m-%d)
"$bin/doorctl" time set "$address" 00a0c9000001 || fail "doorctl time set"
shown=$("$bin/doorctl" --json time show "$address" 00a0c9000001) || fail "doorctl time show"
echo "$shown"
after=$(date +%y-%m-%d)
[[ $shown == *"\"clock\":\"$before "* || $shown == *"\"clock\":\"$after "* ]] ||
    fail "the clock shown is not today's"

# doorlinkd keeps the second controller's cards in step, verified.
fleet=("$bin/doorlinkd" --json --data-dir "$work/fleet")
"${fleet[@]}" init >/dev/null || fail "doorlinkd init"
"${fleet[@]}" controller add door2 "$second" 00a0c9000002 >/dev/null || fail "doorlinkd controller add"
"${fleet[@]}" card set 00112345 --serial 123456 --password 654321 >/dev/null || fail "doorlinkd card set"
synced=$("${fleet[@]}" sync) || fail "doorlinkd sync: $synced"
echo "doorlinkd sync: $synced"
[[ $synced == *'"status":"repaired"'* ]] || fail "doorlinkd sync did not repair the new controller"
checked=$("${fleet[@]}" sync --check) || fail "doorlinkd sync --check: $checked"
[[ $checked == *'"status":"in_step"'* ]] || fail "the controller is not in step after the sync"

echo "== doorlinkd as a system service"
unit="$root/usr/lib/systemd/system/doorlinkd.service"
config="$root/etc/doorlinkd/doorlinkd.toml"
[ -f "$unit" ] && [ -f "$root/usr/lib/sysusers.d/doorlinkd.conf" ] && [ -f "$config" ] ||
    fail "the doorlinkd package lacks its unit, its sysusers.d file or its configuration"
[ "$(dpkg-deb -I "$service_deb" conffiles)" = /etc/doorlinkd/doorlinkd.toml ] ||
    fail "the configuration is not the doorlinkd package's one conffile"
grep -qx 'ExecStart=/usr/bin/doorlinkd --config /etc/doorlinkd/doorlinkd.toml serve' "$unit" ||
    fail "the unit does not start doorlinkd serve with its configuration"
if command -v systemd-analyze >/dev/null 2>&1; then
    sed "s|^ExecStart=/usr/bin/|ExecStart=$bin/|" "$unit" >"$work/doorlinkd.service"
    systemd-analyze verify --man=no "$work/doorlinkd.service" || fail "systemd-analyze verify refuses the unit"
fi
# The command line's data directory wins over the configuration's.
"${fleet[@]}" --config "$config" serve --http 127.0.0.1:0 >"$work/serve.out" 2>"$work/serve.err" &
serving=$!
for _ in $(seq 100); do [ -s "$work/serve.out" ] && break; sleep 0.1; done
echo "doorlinkd serve: $(head -1 "$work/serve.out")"
grep -q '^{"http":"http://127.0.0.1:[0-9]*"' "$work/serve.out" ||
    { kill "$serving"; cat "$work/serve.err"; fail "doorlinkd serve did not answer"; }
kill -TERM "$serving"
wait "$serving" || { cat "$work/serve.err"; fail "doorlinkd serve did not end well on SIGTERM"; }

# Both builds at once, each against a controller of its own.
pids=()
for run in "pkg-config 00a0c9000001 $address" "cmake 00a0c9000002 $second"; do
    read -r kind mac at <<<"$run"
    mkdir -p "$work/home-$kind"
    { echo "== the example built through $kind, against $at"
      DOORLINK_HOME="$work/home-$kind" "$work/$kind/doorlink_example" "$mac" "$at"; } >"$work/$kind.out" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
cat "$work/pkg-config.out" "$work/cmake.out"
exit $status
