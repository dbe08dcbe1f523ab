#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz build for a while each.
#   fuzz.sh BUILD-DIR SECONDS [TARGET...]     (targets without "fuzz_"; all when none)
# Each target starts from its seed corpus (tests/fuzz/corpus/TARGET) and the
# inputs it found in earlier runs (BUILD-DIR/fuzz/corpus/TARGET, where it also
# puts the new ones; the checked-in corpus is never written). A crash, leak or
# hang leaves its input in BUILD-DIR/fuzz/artifacts/TARGET/ and makes the
# script fail. The log of each run is BUILD-DIR/fuzz/logs/TARGET.log.
set -uo pipefail

build=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
seeds=$source_dir/tests/fuzz/corpus

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in "$seeds"/*/; do targets+=("$(basename "$dir")"); done
fi

# Inputs long enough for several blocks of the record and photo transfers.
max_len() {
    case $1 in
        record_retrieval | transfer_retrieval | live_photo | readback) echo 16384 ;;
        download | list_files) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

failed=0
printf '%-20s %12s %8s %8s %8s  %s\n' target executions cov ft corpus findings
for target in "${targets[@]}"; do
    program=$build/bin/fuzz_$target
    if [ ! -x "$program" ]; then
        echo "$target: no program $program" >&2
        failed=1
        continue
    fi
    corpus=$build/fuzz/corpus/$target
    artifacts=$build/fuzz/artifacts/$target
    log=$build/fuzz/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$seeds/$target" >"$log" 2>&1
    status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    coverage=$(grep -E '^#[0-9]+' "$log" | grep -o 'cov: [0-9]*' | tail -n 1 | cut -d' ' -f2)
    features=$(grep -E '^#[0-9]+' "$log" | grep -o 'ft: [0-9]*' | tail -n 1 | cut -d' ' -f2)
    inputs=$(find "$corpus" "$seeds/$target" -type f | wc -l)
    findings=$(find "$artifacts" -type f | wc -l)
    note=$findings
    if [ $status -ne 0 ]; then
        note="$findings (exit $status; see $log)"
        failed=1
    fi
    printf '%-20s %12s %8s %8s %8s  %s\n' "$target" "${executions:-?}" "${coverage:-?}" \
        "${features:-?}" "$inputs" "$note"
done
exit $failed
