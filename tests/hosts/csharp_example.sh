#!/usr/bin/env bash
# The C# declarations compiled on their own with mono's compiler, the
# example host compiled against them, and the example run under mono
# against this build's libdoorlink.so and a simulated controller. Exits
# with 77 (skipped) saying why where mono is not installed.
# Usage: csharp_example.sh SOURCE_DIR LIBRARY_DIR DOORSIM [PRELOAD...]
# PRELOAD: the sanitizer runtimes an instrumented library needs in mono.
set -uo pipefail
source=$1
libdir=$2
doorsim=$3
shift 3
preload="$*"
for tool in mcs mono; do
    if ! command -v $tool >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (Debian's mono-mcs and mono-runtime;" \
             "scripts/install-deps.sh installs them as root where it can)"
        exit 77
    fi
done
. "$(dirname "$0")/doorsim.sh"

mcs -warnaserror -target:library -out:"$work/Doorlink.dll" "$source/bindings/csharp/Doorlink.cs" &&
    mcs -warnaserror -r:"$work/Doorlink.dll" -out:"$work/Example.exe" \
        "$source/bindings/csharp/example/Example.cs" || exit 1

start_doorsim "$doorsim" 1
mkdir -p "$work/home"
# mono is the executable, so the data files need DOORLINK_HOME.
DOORLINK_HOME="$work/home" LD_LIBRARY_PATH="$libdir" LD_PRELOAD="$preload" \
    ASAN_OPTIONS=detect_leaks=0 \
    mono "$work/Example.exe" "$address" 00a0c9000001
