#!/usr/bin/env bash
# The soak at full size: each workload of the lossy-network tests in a process
# of its own, side by side, under 5% loss, 10% duplication and reordering;
# the transfers with the fixed wait and with the adaptive wait.
#   soak.sh TEST-BINARY
set -uo pipefail
binary=$1
export DOORLINK_SOAK_FULL=1
pids=()
filters=(LossyNetwork.SoakPushedPhotos)
for workload in CardListDownloadAndReadBack RetrievalWithPhotos TransferRetrieval; do
    for wait in FixedWait AdaptiveWait; do filters+=("Waits/LossySoak.$workload/$wait"); done
done
for filter in "${filters[@]}"; do
    "$binary" --gtest_filter="$filter" 2>&1 | grep -E '^\[ +(OK|FAILED) +\]|calls|Failure' &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
