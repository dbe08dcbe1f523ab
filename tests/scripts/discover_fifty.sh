#!/usr/bin/env bash
# `doorctl discover ADDRESS --count 50` finds the 50 controllers of one doorsim
# into the registry. Usage: discover_fifty.sh DOORSIM DOORCTL
set -uo pipefail
. "$(dirname "$0")/doorsim_ready.sh"
doorsim=$1
doorctl=$2
home=$(mktemp -d)
log="$home/doorsim.log"
sim=""
cleanup() {
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; fi
    rm -rf "$home"
}
trap cleanup EXIT

# A /24 of loopback addresses that the tests' own simulators do not use
# (they take 127.100.x.x to 127.199.x.x); another one when it is taken.
for attempt in 1 2 3 4 5; do
    base="127.$((200 + RANDOM % 50)).$((RANDOM % 250)).2"
    "$doorsim" --controllers 50 --address "$base" >"$log" 2>&1 &
    sim=$!
    doorsim_ready "$sim" "$log" && break
    wait "$sim" 2>/dev/null
    sim=""
done
if [ -z "$sim" ]; then
    echo "doorsim did not start:"; cat "$log"; exit 1
fi

DOORLINK_HOME="$home" "$doorctl" discover "$base" --count 50 || exit 1
total=$(sed -n 's/^EqmTotal=//p' "$home/eqminfo.ini" | tr -d '\r')
addresses=$(grep -c '^EqmIP[0-9]*=127\.' "$home/eqminfo.ini")
echo "EqmTotal=$total, $addresses addresses"
[ "$total" = 50 ] && [ "$addresses" = 50 ]
