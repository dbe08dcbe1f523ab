#!/usr/bin/env bash
# The C example host built as its users build it, against this build
# installed under a temporary prefix: once through pkg-config (its Makefile)
# and once through find_package(doorlink) (its CMakeLists.txt). Each build
# then discovers a simulated controller at its address, reads its clock,
# opens a door and downloads a card list.
# Usage: c_example.sh BUILD_DIR SOURCE_DIR DOORSIM [PRELOAD...]
# PRELOAD: the sanitizer runtimes an instrumented library needs in a plain
# program.
set -uo pipefail
build=$1
source=$2
doorsim=$3
shift 3
preload="$*"
. "$(dirname "$0")/doorsim.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
pc=$(dirname "$(find "$prefix" -name doorlink.pc)")
libdir=$(dirname "$(find "$prefix" -name 'libdoorlink.so')")

mkdir -p "$work/pkg-config" "$work/home-pkg-config" "$work/home-cmake"
# (The linker's warnings about the sanitizer runtime are kept in the logs.)
PKG_CONFIG_PATH="$pc" make -s -C "$work/pkg-config" -f "$source/examples/c/Makefile" \
    CFLAGS="-Wall -Wextra -Werror" >"$work/make.log" 2>&1 || { cat "$work/make.log"; exit 1; }
cmake -S "$source/examples/c" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 &&
    cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }

start_doorsim "$doorsim" 2
second=$(sed -n 's/^controller 2: \([0-9.]*\):.*/\1/p' "$work/doorsim.log")
run() {  # run HOME PROGRAM MAC ADDRESS
    DOORLINK_HOME="$1" LD_LIBRARY_PATH="$libdir" LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0 \
        "$2" "$3" "$4" >"$1/output" 2>&1
}
run "$work/home-pkg-config" "$work/pkg-config/doorlink_example" 00a0c9000001 "$address" &
first_run=$!
run "$work/home-cmake" "$work/cmake/doorlink_example" 00a0c9000002 "$second"
status=$?
wait $first_run || status=1
for home in "$work/home-pkg-config" "$work/home-cmake"; do
    echo "== ${home##*/}"; cat "$home/output"
done
exit $status
