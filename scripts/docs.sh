#!/usr/bin/env bash
# Builds the API reference from include/doorlink/doorlink.h with doxygen into
# OUTDIR/html; any doxygen warning (an export, parameter or result left
# undocumented, a broken command or reference) fails it.
#   docs.sh OUTDIR
# Exits 77 when doxygen is not installed (the test runner counts that as
# skipped).
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
if ! command -v doxygen >/dev/null 2>&1; then
    echo "SKIPPED: doxygen is not installed (scripts/install-deps.sh --docs installs it)"
    exit 77
fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."

# FAIL_ON_WARNINGS reports every warning before failing; doxygen before 1.9
# knows only YES, which stops at the first. Whichever it is, the warnings also
# go to a log file, and a non-empty log fails the build.
failing=YES
if doxygen -g "$out/Doxyfile.template" >/dev/null 2>&1 &&
    grep -q FAIL_ON_WARNINGS "$out/Doxyfile.template"; then
    failing=FAIL_ON_WARNINGS
fi
rm -f "$out/Doxyfile.template"

log="$out/warnings.log"
rm -f "$log"
status=0
{
    cat docs/Doxyfile
    echo "OUTPUT_DIRECTORY = \"$out\""
    echo "WARN_LOGFILE = \"$log\""
    echo "WARN_AS_ERROR = $failing"
} | doxygen - >"$out/doxygen.out" 2>&1 || status=$?

if [ $status -ne 0 ] || [ -s "$log" ] || grep -qi warning "$out/doxygen.out"; then
    cat "$out/doxygen.out" >&2
    [ -f "$log" ] && cat "$log" >&2
    echo "doxygen failed or warned (status $status)" >&2
    exit 1
fi
echo "API reference: $out/html/index.html"
