#!/usr/bin/env bash
# `make package`: every package of a release into one directory.
# Usage: package.sh OUTDIR JOBS WINDOWS-BUILD
#   package-deb.sh     the Debian packages (libdoorlink0, libdoorlink-dev,
#                      doorlink-tools), checked with lintian
#   package-win32.sh   doorlink-<version>-win32.zip from the 32-bit build
#   package-python.sh  the Python wheel
#   package-source.sh  doorlink-<version>.tar.gz and its checksum
# Each part keeps its build under OUTDIR/work/<part>.
set -euo pipefail
if [ $# -ne 3 ]; then
    echo "usage: $0 OUTDIR JOBS WINDOWS-BUILD" >&2
    exit 2
fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
scripts=$(dirname "$0")

"$scripts/package-deb.sh" "$out" "$2"
"$scripts/package-win32.sh" "$3" "$out"
"$scripts/package-python.sh" "$out"
"$scripts/package-source.sh" "$out"
