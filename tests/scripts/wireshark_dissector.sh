#!/usr/bin/env bash
# doorsim --pcap captures a session of doorctl commands that between them
# send every kind of datagram; tshark with tools/wireshark/doorlink.lua then
# has to name each kind and decode its fields. Exits 77 (skipped) where tshark
# is missing. Usage: wireshark_dissector.sh DOORSIM DOORCTL DISSECTOR
set -uo pipefail
doorsim=$1
doorctl=$2
dissector=$3

if ! command -v tshark >/dev/null 2>&1; then
    echo "SKIPPED: tshark is not installed (scripts/install-deps.sh --wireshark installs it as root)"
    exit 77
fi

work=$(mktemp -d)
export DOORLINK_HOME="$work"
sim=""
monitor=""
cleanup() {
    [ -n "$monitor" ] && kill "$monitor" 2>/dev/null && wait "$monitor" 2>/dev/null
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; fi
    exec 3>&- 2>/dev/null
    [ -n "${KEEP:-}" ] && cp "$work/capture.pcap" /tmp/ws-capture.pcap; rm -rf "$work"
}
trap cleanup EXIT

# start_doorsim CAPTURE INPUT OPTIONS...: doorsim on a loopback address of
# its own (the other tests take 127.100.x.x to 127.199.x.x), reading INPUT.
start_doorsim() {
    local capture=$1 input=$2
    shift 2
    for attempt in 1 2 3 4 5; do
        address="127.$((200 + RANDOM % 50)).$((RANDOM % 250)).$((2 + RANDOM % 200))"
        "$doorsim" --address "$address" --pcap "$capture" "$@" <"$input" >"$work/doorsim.log" 2>&1 &
        sim=$!
        [ "$input" = "$work/control" ] && exec 3>"$work/control"
        for _ in $(seq 100); do
            grep -q '^ready' "$work/doorsim.log" && return 0
            kill -0 "$sim" 2>/dev/null || break
            sleep 0.1
        done
        exec 3>&-
        wait "$sim" 2>/dev/null
        sim=""
    done
    echo "doorsim did not start:"; cat "$work/doorsim.log"; exit 1
}
stop_doorsim() {
    sleep 0.3
    kill "$sim" && wait "$sim"
    sim=""
}

# A retrieval that ends with the 10-byte short reply, in a capture of its own.
start_doorsim "$work/short.pcap" /dev/null --records 1 --stream-end short
"$doorctl" records fetch "$address" 00a0c9000001 >>"$work/doorctl.log" 2>&1 ||
    { echo "failed: doorctl records fetch"; cat "$work/doorctl.log"; exit 1; }
stop_doorsim

# Everything else, with pushes made through the control pipe.
mkfifo "$work/control"
start_doorsim "$work/capture.pcap" "$work/control" --records 70 --control
mac=$(sed -n 's/^controller 1: .* mac \([0-9a-f]*\) .*/\1/p' "$work/doorsim.log")

run() {
    "$doorctl" "$@" >>"$work/doorctl.log" 2>&1 || { echo "failed: doorctl $*"; cat "$work/doorctl.log"; exit 1; }
}
run time set "$address" "$mac"
run time show "$address" "$mac"
run door open "$address" "$mac" --door 2
run door open "$address" "$mac" --door 3 --extra 9
run door init "$address" "$mac"
run door state "$address" "$mac"
run door state "$address" "$mac" --selector 1
run door recdir "$address" "$mac"
run locktimes set "$address" "$mac" --lock 0830,1730 --button 1200
run locktimes set "$address" "$mac" --long --lock 0800-1200-01 --button 1300-1730-02
run mode set "$address" "$mac" --modes 1,2,3
run restdays set "$address" "$mac" --week 1000001 --days 0101,1225
run photo-test "$address"
run flag "$address" "$mac" 00112345
run framed "$address" --node 1 --station 0001 --command 0x01 --payload "AA BB"
run net set "$address" "$mac" --device 7 --time 30 --image 2
run mac show "$address" "$mac"
run cards add 00112345 123456 654321 --list 3 --new
run cards add 00212346 123457 654322 --list 3
run cards download "$address" "$mac" --list 3
run cards readback "$address" "$mac" --list 3
run records fetch "$address" "$mac"
run records fetch "$address" "$mac" --no-photos
# A discovery request as the library sends it, without waiting for the
# replies that are not coming (a unicast discovery waits six times 2 s).
printf '\x48\x84\x94\x04\x44\x00' >/dev/udp/"$address"/9000
# Monitoring through the return-address request: an error report and a photo.
"$doorctl" monitor "$address" "$mac" >"$work/monitor.log" 2>&1 &
monitor=$!
for _ in $(seq 100); do
    grep -q 'return address\|monitor\|waiting\|ready' "$work/monitor.log" 2>/dev/null && break
    sleep 0.1
done
sleep 0.5
echo "error 1 door 1 held open too long" >&3
echo "photo 1 1 4242" >&3
for _ in $(seq 100); do
    grep -q 'photo of card' "$work/monitor.log" && break
    sleep 0.1
done
# A photo resend request naming the photo's card, as a monitored host sends it.
printf '\x73\x37\x47\x57\x01\x10\x92\x00\x00\x01' >/dev/udp/"$address"/9000
run monitor start "$address"
run mac set "$address" 00a0c9000002
stop_doorsim

# One pass of tshark: a line of fields per datagram.
fields=(doorlink.message doorlink.direction udp.dstport doorlink.mac doorlink.clock doorlink.door
    doorlink.extra doorlink.state doorlink.lock_times doorlink.button_times doorlink.week doorlink.rest_days
    doorlink.card doorlink.frame.node doorlink.frame.payload doorlink.device doorlink.ip doorlink.count
    doorlink.index doorlink.held doorlink.image doorlink.images doorlink.seq doorlink.block doorlink.blocks
    doorlink.in_last_block doorlink.record_kind doorlink.port doorlink.report)
options=()
for f in "${fields[@]}"; do options+=(-e "$f"); done
tshark -X lua_script:"$dissector" -r "$work/capture.pcap" -T fields -E separator='|' "${options[@]}" \
    >"$work/fields" 2>"$work/tshark.err" || { echo "tshark failed:"; cat "$work/tshark.err"; exit 1; }
tshark -X lua_script:"$dissector" -r "$work/short.pcap" -T fields -E separator='|' "${options[@]}" \
    >>"$work/fields" 2>"$work/tshark.err" || { echo "tshark failed:"; cat "$work/tshark.err"; exit 1; }
if grep -q 'Lua Error' "$work/fields" "$work/tshark.err"; then
    echo "the dissector failed:"; grep 'Lua Error' "$work/fields" "$work/tshark.err" | sort -u; exit 1
fi

failures=0
# value FIELD [NAME=VALUE ...]: FIELD of the first datagram whose fields hold
# those values (an empty VALUE: the field is absent).
value() {
    local wanted=$1
    shift
    awk -F'|' -v names="${fields[*]}" -v wanted="$wanted" -v conditions="$*" '
        BEGIN { n = split(names, name, " "); for (i = 1; i <= n; i++) column[name[i]] = i
                c = split(conditions, condition, " ") }
        { for (i = 1; i <= c; i++) { split(condition[i], pair, "=")
              gsub(/_/, " ", pair[2]); if ($(column[pair[1]]) != pair[2]) next }
          print $(column[wanted]); exit }' "$work/fields"
}
check() {  # check DESCRIPTION EXPECTED FIELD [NAME=VALUE ...] (blanks in values written as _)
    local description=$1 expected=$2
    shift 2
    local got
    got=$(value "$@")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: $description: $1 is '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

kinds=("Set clock" "Set clock acknowledgement" "Read clock" "Clock reply"
    "Force door" "Force door acknowledgement" "Initialise" "Initialise acknowledgement"
    "Current door state query" "Current door state reply" "Door state query" "Door state reply"
    "Record and direction query" "Record and direction reply"
    "Lock and button times" "Lock and button times acknowledgement" "Set modes" "Set modes acknowledgement"
    "Rest days" "Rest days acknowledgement" "Photo test" "Photo test acknowledgement"
    "Card flag" "Card flag reply" "Framed command" "Framed reply"
    "Network settings" "Network settings acknowledgement" "MAC query" "MAC query reply"
    "MAC change" "MAC change reply" "Discovery request" "Discovery reply"
    "Card list announcement" "Card list announcement reply" "Card list record" "Card list record reply"
    "Card read-back request" "Card read-back reply"
    "Record retrieval request" "Photo block" "Record block" "Block acknowledgement" "End marker"
    "Short reply (end of retrieval)"
    "Transfer request" "Transfer block" "Block request" "Final block request"
    "Return address" "Return address acknowledgement" "Monitoring request" "Monitoring request acknowledgement"
    "Error report" "Live photo block" "Photo resend request")
cut -d'|' -f1 "$work/fields" >"$work/names"
for kind in "${kinds[@]}"; do
    if ! grep -qxF "$kind" "$work/names"; then
        echo "FAIL: no datagram named '$kind'"
        failures=$((failures + 1))
    fi
done
printf '%s\n' "${kinds[@]}" >"$work/kinds"
if grep -qvxF -f "$work/kinds" "$work/names"; then
    echo "FAIL: datagrams of no expected kind:"
    grep -vxF -f "$work/kinds" "$work/names" | sort | uniq -c
    failures=$((failures + 1))
fi

m=$(echo "$mac" | sed 's/\(..\)/\1:/g; s/:$//')
today=$(date +%Y-%m-%d)
check "set clock MAC, in both blocks" "$m,$m" doorlink.mac doorlink.message=Set_clock
clock=$(value doorlink.clock doorlink.message=Clock_reply)
[ "${clock%% *}" = "$today" ] || { echo "FAIL: clock reply decoded as '$clock'"; failures=$((failures + 1)); }
check "forced door" 2 doorlink.door doorlink.message=Force_door doorlink.extra=
check "forced door with extra byte" 3 doorlink.door doorlink.message=Force_door doorlink.extra=9
check "current state" "0,0" doorlink.state doorlink.message=Current_door_state_reply
check "short lock times" "0830,1730" doorlink.lock_times doorlink.message=Lock_and_button_times
check "long button times" "1300-1730-02" doorlink.button_times doorlink.message=Lock_and_button_times \
    doorlink.lock_times=0800-1200-01
check "rest days" "0101,1225" doorlink.rest_days doorlink.message=Rest_days
check "week" "1000001" doorlink.week doorlink.message=Rest_days
check "flagged card" 00112345 doorlink.card doorlink.message=Card_flag_reply
check "framed node" 1 doorlink.frame.node doorlink.message=Framed_reply
check "framed payload" aabb doorlink.frame.payload doorlink.message=Framed_command
check "settings device" 7 doorlink.device doorlink.message=Network_settings
check "discovery reply address" "$address" doorlink.ip doorlink.message=Discovery_reply
check "discovery reply device" 7 doorlink.device doorlink.message=Discovery_reply
check "new MAC" 00:a0:c9:00:00:02 doorlink.mac doorlink.message=MAC_change_reply
check "announced count" 2 doorlink.count doorlink.message=Card_list_announcement
check "second list record" 00212346 doorlink.card doorlink.message=Card_list_record doorlink.index=1
check "read-back total" 2 doorlink.held doorlink.message=Card_read-back_reply doorlink.index=1
check "record block card" 00201001 doorlink.card doorlink.message=Record_block doorlink.image=2
check "record block total" 70 doorlink.images doorlink.message=Record_block doorlink.image=1
check "last sequence byte" 33 doorlink.seq doorlink.message=Record_block doorlink.image=70
check "acknowledged sequence" 33 doorlink.seq doorlink.message=Block_acknowledgement doorlink.image=70 \
    doorlink.seq=33
check "transfer block" 6 doorlink.in_last_block doorlink.message=Transfer_block doorlink.block=2
check "transfer record kinds" "1,2,1,2,1,2" doorlink.record_kind doorlink.message=Transfer_block doorlink.block=2
check "block request" 2 doorlink.blocks doorlink.message=Block_request
port=$(value doorlink.port doorlink.message=Return_address)
check "report to the returned port" "$port" udp.dstport doorlink.message=Error_report
check "error report" "door 1 held open too long" doorlink.report doorlink.message=Error_report
check "live photo card" 00104242 doorlink.card doorlink.message=Live_photo_block doorlink.block=0
check "photo resend card" 00104242 doorlink.card doorlink.message=Photo_resend_request

if [ "$failures" -ne 0 ]; then
    echo "$failures checks failed; messages seen:"; cut -d'|' -f1,2 "$work/fields" | sort | uniq -c
    exit 1
fi
echo "ok: $(wc -l <"$work/fields") datagrams of ${#kinds[@]} kinds decoded"
