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

# wait_ready LOG PID: succeeds once the doorsim of PID printed its ready line.
wait_ready() {
    for _ in $(seq 100); do
        grep -q '^ready' "$1" && return 0
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

start_doorsim() {
    # The other tests' simulators use 127.100.x.x to 127.249.x.x.
    for _ in 1 2 3 4 5; do
        address="127.$((250 + RANDOM % 5)).$((RANDOM % 250)).2"
        "$1" --controllers "$2" --address "$address" >"$work/doorsim.log" 2>&1 &
        sim=$!
        wait_ready "$work/doorsim.log" "$sim" && return 0
        kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null
        sim=""
    done
    echo "doorsim did not start:"; cat "$work/doorsim.log"
    exit 1
}
