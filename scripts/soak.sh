#!/usr/bin/env bash
# The soak at full size: each workload of the lossy-network tests in a process
# of its own, side by side, under 5% loss, 10% duplication and reordering.
#   soak.sh TEST-BINARY
set -uo pipefail
binary=$1
export DOORLINK_SOAK_FULL=1
pids=()
for workload in SoakCardListDownloadAndReadBack SoakRetrievalWithPhotos SoakTransferRetrieval SoakPushedPhotos; do
    "$binary" --gtest_filter="LossyNetwork.$workload" 2>&1 | grep -E '^\[ +(OK|FAILED) +\]|calls|Failure' &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
