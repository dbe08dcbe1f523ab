#!/usr/bin/env bash
# Installs what the build and the tests need and a fresh machine may lack.
# Runs apt-get only for what is missing, and only as root.
#   install-deps.sh             the Linux build and tests
#   install-deps.sh --windows   also the cross compiler and Wine of the
#                               Windows suite; what cannot be installed is
#                               reported, and that suite is then skipped
#   install-deps.sh --fuzz      clang and its libFuzzer runtime (make fuzz)
#   install-deps.sh --lint      clang-tidy (make lint)
set -euo pipefail

if [ "${1:-}" = --windows ]; then
    status=0
    "$(dirname "$0")/install-windows-deps.sh" all || status=$?
    case $status in
        0) ;;
        2) echo "Windows suite: Wine is missing; its tests will be skipped" >&2 ;;
        *) echo "Windows suite: the MinGW-w64 cross compiler is missing; its tests will be skipped" >&2 ;;
    esac
    exit 0
fi

missing=()
need() {  # need PACKAGE TEST-COMMAND...
    local package=$1
    shift
    if ! "$@" >/dev/null 2>&1; then missing+=("$package"); fi
}

# Whether clang links a program with libFuzzer and the sanitizers.
links_fuzzer() {
    local dir status
    dir=$(mktemp -d)
    printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
        >"$dir/probe.cpp"
    status=0
    clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" || status=$?
    rm -rf "$dir"
    return $status
}

if [ "${1:-}" = --lint ]; then
    need clang-tidy command -v run-clang-tidy
fi
if [ "${1:-}" = --fuzz ]; then
    need clang command -v clang++
    need libclang-rt-dev links_fuzzer
fi
need cmake command -v cmake
need g++ command -v g++
need make command -v make
need libgtest-dev test -e /usr/include/gtest/gtest.h
need libbenchmark-dev test -e /usr/include/benchmark/benchmark.h
need libcli11-dev test -e /usr/include/CLI/CLI.hpp
need binutils command -v nm
need iproute2 command -v ip
need libjpeg62-turbo-dev test -e /usr/include/jpeglib.h
# doorctl --json (the tools only; the library has no dependencies)
need nlohmann-json3-dev test -e /usr/include/nlohmann/json.hpp
need python3 command -v python3  # reads doorctl's JSON in its test

if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
