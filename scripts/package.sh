#!/usr/bin/env bash
# `make package`: every package of a release into one directory.
# Usage: package.sh OUTDIR [JOBS]
#   package-deb.sh  the Debian packages (libdoorlink0, libdoorlink-dev,
#                   doorlink-tools), checked with lintian
# Each part keeps its build under OUTDIR/work/<part>.
set -euo pipefail
mkdir -p "$1"
out=$(cd "$1" && pwd)
jobs=${2:-$(nproc)}
scripts=$(dirname "$0")

"$scripts/package-deb.sh" "$out" "$jobs"
