# Sourced by the host tests: a work directory removed on exit, and
# start_doorsim DOORSIM COUNT, which runs COUNT simulated controllers on a
# free loopback /24 (first address in $address, MACs from 00a0c9000001) and
# stops them on exit.
work=$(mktemp -d)
sim=""
cleanup() {
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "${BASH_SOURCE[0]}")/../scripts/doorsim_ready.sh"

start_doorsim() {
    # The other tests' simulators use 127.100.x.x to 127.249.x.x.
    for _ in 1 2 3 4 5; do
        address="127.$((250 + RANDOM % 5)).$((RANDOM % 250)).2"
        "$1" --controllers "$2" --address "$address" >"$work/doorsim.log" 2>&1 &
        sim=$!
        doorsim_ready "$sim" "$work/doorsim.log" && return 0
        kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null
        sim=""
    done
    echo "doorsim did not start:"; cat "$work/doorsim.log"
    exit 1
}
