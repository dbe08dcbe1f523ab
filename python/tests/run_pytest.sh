#!/bin/sh
# Runs the Python package's tests with Debian's python3 against a doorsim.
# Usage: run_pytest.sh DOORSIM LIBRARY HEADER [COMPILER]
# With COMPILER (the library was built with AddressSanitizer), its
# sanitizer runtimes are preloaded into the interpreter, which is not
# instrumented itself.
set -eu
python=/usr/bin/python3
if ! "$python" -c "import pytest" 2>/dev/null; then
    echo "SKIPPED: pytest is not installed for $python (scripts/install-deps.sh installs python3-pytest)"
    exit 77
fi
export DOORSIM="$1" DOORLINK_LIBRARY="$2" DOORLINK_HEADER="$3"
if [ -n "${4:-}" ]; then
    LD_PRELOAD="$("$4" -print-file-name=libasan.so) $("$4" -print-file-name=libubsan.so)"
    export LD_PRELOAD ASAN_OPTIONS=detect_leaks=0
fi
exec "$python" -B -m pytest -q -p no:cacheprovider "$(dirname "$0")"
