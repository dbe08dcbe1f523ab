#!/bin/sh
# doorctl reader read against a doorsim reader started here, as a user would
# run the two: doorsim prints its device, doorctl reads a card from it.
set -eu
doorsim=$1
doorctl=$2
work=$(mktemp -d)
"$doorsim" reader --card FFFFFFFF </dev/null >"$work/reader.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

path=
for _ in $(seq 100); do
    path=$(sed -n 's/^reader: //p' "$work/reader.log")
    [ -n "$path" ] && break
    sleep 0.1
done
[ -n "$path" ] || { echo "doorsim reader printed no device"; cat "$work/reader.log"; exit 1; }

result=$("$doorctl" reader read "$path")
[ "$result" = "4294967295,25565535" ] || { echo "unexpected card: $result"; exit 1; }

# A port that does not exist fails with a one-line reason.
if "$doorctl" reader read "$work/no-such-port" 2>"$work/error"; then
    echo "a missing port was read"
    exit 1
fi
grep -q '^doorctl: ' "$work/error"
echo "ok: $result"
