#!/usr/bin/env bash
# doorctl --json against doorsim on loopback: each command prints exactly one
# JSON object (monitor one per event) and exits with its documented status.
# Usage: json_output.sh DOORSIM DOORCTL
set -uo pipefail
. "$(dirname "$0")/../scripts/doorsim_ready.sh"
doorsim=$1
doorctl=$2
work=$(mktemp -d)
sim=""
cleanup() {
    exec 7>&- 2>/dev/null
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT
export DOORLINK_HOME="$work/home"
mac=00a0c9000001

# One controller with three records, pushing on request (control input from a fifo).
mkfifo "$work/control"
for attempt in 1 2 3 4 5; do
    address="127.$((250 + RANDOM % 5)).$((RANDOM % 250)).2"
    "$doorsim" --address "$address" --records 3 --control <"$work/control" >"$work/doorsim.log" 2>&1 &
    sim=$!
    exec 7>"$work/control"
    doorsim_ready "$sim" "$work/doorsim.log" && break
    exec 7>&-
    wait "$sim" 2>/dev/null
    sim=""
done
[ -n "$sim" ] || { echo "doorsim did not start:"; cat "$work/doorsim.log"; exit 1; }
# An address of the same /24 where no controller answers.
silent="${address%.*}.250"

# expect STATUS PYTHON-CONDITION DOORCTL-ARGUMENTS...: the run exits with
# STATUS and prints one JSON object d for which the condition holds.
failures=0
expect() {
    local status=$1 condition=$2 got
    shift 2
    "$doorctl" --json "$@" >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" != "$status" ] ||
        ! python3 -c 'import json, re, sys
d = json.loads(open(sys.argv[1]).read())
sys.exit(0 if isinstance(d, dict) and eval(sys.argv[2]) else 1)' "$work/out" "$condition"; then
        echo "FAIL: doorctl --json $* (status $got, expected $status; $condition)"
        cat "$work/out" "$work/err"
        failures=$((failures + 1))
    fi
}

expect 0 're.fullmatch(r"\d\d-\d\d-\d\d \d\d:\d\d:\d\d", d["clock"]) and 0 <= d["day_of_week"] <= 6' \
    time show "$address" "$mac"
expect 0 'len(d["reply"].split()) == 14' door state "$address" "$mac" --selector 1
expect 0 'd["payload"] == "48 65 6c 6c 6f" and d["length"] == 5' \
    framed "$address" --command 0x01 --payload 48656c6c6f
expect 0 'd["records"] == 1 and d["new"]' cards add 00112345 123456 654321 --list 2 --new
expect 0 'd["records"] == 1' cards download "$address" "$mac" --list 2
expect 0 'd["records"] == 1 and d["ini"].endswith("ReCard002.ini")' cards readback "$address" "$mac" --list 2 --ini
expect 0 'd["records"] == 3 and d["photos"] == 3 and d["result"] == 2' records fetch "$address" "$mac"
# The controller did not confirm; a usage error; a local file error.
expect 1 "d['export'] == 'DoorShowTime' and d['address'] == '$silent' and d['error'] != ''" \
    time show "$silent" "$mac"
expect 2 '"MAC" in d["error"]' time show "$address" 00-a0-c9-00-00-01
expect 2 'list(d) == ["error"]' --no-such-option serial 0123456789ab
expect 3 'd["file"].endswith("doorname009.dat")' cards download "$address" "$mac" --list 9

# monitor: one JSON line per event, into a home that does not exist yet.
DOORLINK_HOME="$work/monitor-home" "$doorctl" --json monitor "$address" "$mac" >"$work/events" 2>&1 &
monitor=$!
for _ in $(seq 50); do grep -q '"monitoring"' "$work/events" && break; sleep 0.1; done
echo "error 1 door 2 forced" >&7
for _ in $(seq 50); do grep -q '"error_report"' "$work/events" && break; sleep 0.1; done
kill -INT "$monitor"
wait "$monitor"
status=$?
if [ "$status" != 0 ] || ! python3 -c 'import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert [e["event"] for e in events] == ["monitoring", "error_report", "stopped"], events
assert events[1]["text"] == "door 2 forced", events[1]' "$work/events"; then
    echo "FAIL: doorctl --json monitor (status $status)"
    cat "$work/events"
    failures=$((failures + 1))
fi
[ "$failures" = 0 ] && echo "ok"
