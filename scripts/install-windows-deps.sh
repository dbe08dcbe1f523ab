#!/usr/bin/env bash
# Installs what the Windows build and its tests need: the 32-bit MinGW-w64
# cross compiler and, for the test suite, Wine with its 32-bit part.
#   install-windows-deps.sh toolchain   only the cross compiler
#   install-windows-deps.sh all         the cross compiler and Wine (default)
# Runs apt-get only for what is missing, and only as root. Exits 0 when
# everything asked for is present afterwards, 1 for a missing compiler and
# 2 when only Wine is missing (the Windows tests are then skipped).
set -uo pipefail

what=${1:-all}
compiler=i686-w64-mingw32-g++-posix

have_compiler() { command -v "$compiler" >/dev/null 2>&1; }
have_wine() {
    command -v wine >/dev/null 2>&1 &&
        { [ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine ] ||
          dpkg -s wine32:i386 >/dev/null 2>&1; }
}

updated=0
apt_install() {
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages: $* (run as root, or install them)" >&2
        return 1
    fi
    if [ $updated = 0 ]; then
        apt-get update -qq || return 1
        updated=1
    fi
    echo "installing: $*"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

if ! have_compiler; then
    apt_install g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 || true
fi
if ! have_compiler; then
    echo "the cross compiler $compiler could not be installed" >&2
    exit 1
fi
[ "$what" = toolchain ] && exit 0

if ! have_wine; then
    if [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        updated=0
    fi
    apt_install wine wine32:i386 || true
fi
if ! have_wine; then
    echo "Wine with its 32-bit part could not be installed" >&2
    exit 2
fi
exit 0
