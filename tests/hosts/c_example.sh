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

mkdir -p "$work/pkg-config"
# (The linker's warnings about the sanitizer runtime are kept in the logs.)
PKG_CONFIG_PATH="$pc" make -s -C "$work/pkg-config" -f "$source/examples/c/Makefile" \
    CFLAGS="-Wall -Wextra -Werror" >"$work/make.log" 2>&1 || { cat "$work/make.log"; exit 1; }
cmake -S "$source/examples/c" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 &&
    cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }

# Broadcast discovery runs inside two network namespaces made here, joined
# by a veth pair: a controller answering broadcasts in one, the example in
# the other. Nothing leaves them; they go on exit.
ns_sim=dlhs$$
ns_lib=dlhl$$
ns_doorsim=""
cleanup_namespaces() {
    if [ -n "$ns_doorsim" ]; then kill "$ns_doorsim" 2>/dev/null; wait "$ns_doorsim" 2>/dev/null; fi
    ip netns del "$ns_sim" 2>/dev/null
    ip netns del "$ns_lib" 2>/dev/null
}
trap 'cleanup_namespaces; cleanup' EXIT
make_namespaces() {
    ip netns add "$ns_sim" 2>/dev/null && ip netns add "$ns_lib" &&
        ip link add "vs$$" type veth peer name "vl$$" &&
        ip link set "vs$$" netns "$ns_sim" && ip link set "vl$$" netns "$ns_lib" &&
        ip -n "$ns_lib" addr add 10.201.0.1/24 dev "vl$$" && ip -n "$ns_lib" link set "vl$$" up &&
        ip -n "$ns_lib" route add default dev "vl$$" &&
        ip -n "$ns_sim" addr add 10.201.0.2/24 dev "vs$$" && ip -n "$ns_sim" link set "vs$$" up
}
homes=("$work/home-pkg-config" "$work/home-cmake")
if make_namespaces; then
    ip netns exec "$ns_sim" "$doorsim" --broadcast --address 10.201.0.2 >"$work/broadcast.log" 2>&1 &
    ns_doorsim=$!
    doorsim_ready "$ns_doorsim" "$work/broadcast.log" || { echo "doorsim did not start:"; cat "$work/broadcast.log"; exit 1; }
    homes+=("$work/home-broadcast")
else
    echo "broadcast discovery not run: cannot make network namespaces (ip netns needs root and iproute2)"
fi

start_doorsim "$doorsim" 2
second=$(sed -n 's/^controller 2: \([0-9.]*\):.*/\1/p' "$work/doorsim.log")
run() {  # run HOME COMMAND...: the example's run, its output in HOME/output
    local home=$1
    shift
    mkdir -p "$home"
    DOORLINK_HOME="$home" LD_LIBRARY_PATH="$libdir" LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0 \
        "$@" >"$home/output" 2>&1
}
pids=()
run "$work/home-pkg-config" "$work/pkg-config/doorlink_example" 00a0c9000001 "$address" &
pids+=($!)
if [ -n "$ns_doorsim" ]; then
    run "$work/home-broadcast" ip netns exec "$ns_lib" "$work/pkg-config/doorlink_example" 00a0c9000001 &
    pids+=($!)
fi
run "$work/home-cmake" "$work/cmake/doorlink_example" 00a0c9000002 "$second"
status=$?
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for home in "${homes[@]}"; do
    echo "== ${home##*/}"; cat "$home/output"
done
exit $status
