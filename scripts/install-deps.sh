#!/usr/bin/env bash
# Installs what the build and the tests need and a fresh machine may lack.
# Runs apt-get only for what is missing, and only as root.
#   install-deps.sh             the Linux build and tests
#   install-deps.sh --windows   also the cross compilers (32- and 64-bit)
#                               and Wine (32- and 64-bit) of the Windows
#                               suites; what cannot be installed is
#                               reported, and what needs it is skipped
#   install-deps.sh --fuzz      clang and its libFuzzer runtime (make fuzz),
#                               besides the build's packages (the service's
#                               too, whose code the fuzz build takes)
#   install-deps.sh --lint      clang-tidy-22 (else clang-tidy) and
#                               clang-format-14 (make lint, make format)
#   install-deps.sh --csharp    mono's compiler and runtime for the C# example
#                               host; where they cannot be installed, its test
#                               is skipped
#   install-deps.sh --docs      doxygen (make docs)
#   install-deps.sh --deb       what makes and checks the Debian packages
#                               (make package): dpkg-dev, lintian, help2man,
#                               file
#   install-deps.sh --wireshark tshark for the dissector test; where it cannot
#                               be installed, that test is skipped
set -euo pipefail

if [ "${1:-}" = --wireshark ]; then
    command -v tshark >/dev/null 2>&1 && exit 0
    if [ "$(id -u)" != 0 ]; then
        echo "tshark is missing (run as root to install it); the dissector test will be skipped" >&2
        exit 0
    fi
    echo "installing: tshark"
    # Only root captures; no question about a setuid capture helper.
    echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
    if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq tshark >/dev/null; }; then
        echo "tshark could not be installed; the dissector test will be skipped" >&2
    fi
    exit 0
fi

if [ "${1:-}" = --windows ]; then
    # It reports each missing piece and what is skipped without it.
    "$(dirname "$0")/install-windows-deps.sh" all || true
    exit 0
fi

if [ "${1:-}" = --csharp ]; then
    if command -v mcs >/dev/null 2>&1 && command -v mono >/dev/null 2>&1; then exit 0; fi
    if [ "$(id -u)" = 0 ]; then
        echo "installing: mono-mcs mono-runtime"
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mono-mcs mono-runtime \
            >/dev/null && exit 0
    fi
    echo "C# example: mono (mono-mcs, mono-runtime) is missing; its test will be skipped" >&2
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
    # clang-tidy-22 where the archive has it (a fourth of the time); else
    # clang-tidy (14), which scripts/lint.sh takes instead.
    if ! command -v run-clang-tidy-22 >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-tidy-22 >/dev/null 2>&1 &&
            echo "installed: clang-tidy-22" ||
            echo "clang-tidy-22 cannot be installed here; make lint takes clang-tidy 14 (slower)" >&2
    fi
    command -v run-clang-tidy-22 >/dev/null 2>&1 || need clang-tidy command -v run-clang-tidy
    need clang-format-14 command -v clang-format-14
fi
if [ "${1:-}" = --docs ]; then
    need doxygen command -v doxygen
fi
if [ "${1:-}" = --deb ]; then
    need dpkg-dev command -v dpkg-shlibdeps
    need lintian command -v lintian
    need help2man command -v help2man
    need file command -v file  # CPack's DEB generator asks it which files are programs
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
need pkgconf command -v pkg-config
# The Python package: its tests (pytest) and its installation check (pip
# with setuptools and wheel, no package index), all for Debian's python3.
need python3-pytest /usr/bin/python3 -c "import pytest"
need python3-setuptools /usr/bin/python3 -c "import setuptools"
need python3-wheel /usr/bin/python3 -c "import wheel"
need python3-pip /usr/bin/python3 -m pip --version
# doorctl --json (the tools only; the library has no dependencies)
need nlohmann-json3-dev test -e /usr/include/nlohmann/json.hpp
need python3 command -v python3  # reads doorctl's JSON in its test
# doorlinkd, the fleet service: its databases' client libraries, inih for
# the library's INI files, OpenSSL for SHA-256; its tests run a PostgreSQL
# server of their own
need libsqlite3-dev test -e /usr/include/sqlite3.h
need libpq-dev test -e /usr/include/postgresql/libpq-fe.h
need libinih-dev test -e /usr/include/ini.h
need libssl-dev test -e /usr/include/openssl/evp.h
need postgresql sh -c 'ls /usr/lib/postgresql/*/bin/initdb'
# doorlinkd serve: its HTTP server (Boost.Beast, with OpenSSL), its MQTT
# client and its configuration files; its tests speak HTTP (cpp-httplib),
# start a broker of their own, speak MQTT and drive a headless browser
need libboost1.74-dev test -e /usr/include/boost/beast.hpp
need libcpp-httplib-dev test -e /usr/include/httplib.h
need libmosquitto-dev test -e /usr/include/mosquitto.h
need libtomlplusplus-dev test -e /usr/include/toml++/toml.h
need mosquitto test -x /usr/sbin/mosquitto
need python3-paho-mqtt /usr/bin/python3 -c "import paho.mqtt.client"
need openssl test -x /usr/bin/openssl  # certificates for the TLS tests
need tzdata test -e /usr/share/zoneinfo/Pacific/Kiritimati  # serve --time-zone, and its tests
# the sites' time zones: conversions between local time and UTC over tzdata
need libhowardhinnant-date-dev test -e /usr/include/date/tz.h
# the policy compiled by the process's clock: a test runs doorlinkd under faketime
need faketime command -v faketime
need chromium test -x /usr/bin/chromium
need chromium-driver test -x /usr/bin/chromedriver
need python3-selenium /usr/bin/python3 -c "import selenium.webdriver"
# make package: the Windows zip and its test, the source archive
need zip command -v zip
need unzip command -v unzip
need git command -v git

if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
