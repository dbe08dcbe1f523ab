# Sourced by the scripts that start doorsim: doorsim_ready PID LOG waits up
# to 10 seconds for the doorsim of PID to print "ready" into LOG; fails when
# it does not, or when doorsim exits first.
doorsim_ready() {
    for _ in $(seq 100); do
        grep -q '^ready' "$2" && return 0
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
    grep -q '^ready' "$2"
}
