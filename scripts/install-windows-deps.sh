#!/usr/bin/env bash
# Installs what the Windows builds and their tests need: the MinGW-w64 cross
# compilers (32-bit for the DLL, 64-bit for the test build) and Wine (its
# 32-bit part, and Debian's 64-bit wine64).
#   install-windows-deps.sh toolchain   only the 32-bit cross compiler
#   install-windows-deps.sh all         everything (default)
# Runs apt-get only for what is missing, and only as root. Each piece that
# is still missing afterwards is reported with what is then skipped; exits 0
# when everything asked for is present, 1 otherwise.
set -uo pipefail

what=${1:-all}
compiler32=i686-w64-mingw32-g++-posix
compiler64=x86_64-w64-mingw32-g++-posix

have_compiler32() { command -v "$compiler32" >/dev/null 2>&1; }
have_compiler64() { command -v "$compiler64" >/dev/null 2>&1; }
have_wine32() {
    command -v wine >/dev/null 2>&1 &&
        { [ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine ] ||
          dpkg -s wine32:i386 >/dev/null 2>&1; }
}
# Debian's 64-bit loader, which the 64-bit suite starts directly.
have_wine64() { [ -x /usr/lib/wine/wine64 ]; }

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

status=0
# provide CHECK CONSEQUENCE PACKAGE...: installs the packages when CHECK
# fails, and reports them with the consequence when it still fails.
provide() {
    local check=$1 consequence=$2
    shift 2
    $check && return 0
    apt_install "$@" || true
    $check && return 0
    echo "$* could not be installed: $consequence" >&2
    status=1
}

provide have_compiler32 "no 32-bit Windows DLL; its static checks and Wine suite will be skipped" \
    g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
[ "$what" = toolchain ] && exit $status

provide have_compiler64 "no 64-bit test build; its Wine suite will be skipped" \
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
if ! have_wine32 && [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    updated=0
fi
provide have_wine32 "the 32-bit Wine suite will be skipped" wine wine32:i386
provide have_wine64 "the 64-bit Wine suite will be skipped" wine wine64
# A kernel without 32-bit emulation refuses Wine's 32-bit loader; each test
# of the 32-bit suite then skips, saying so.
if have_wine32 && { [ -n "${DOORLINK_NO_IA32:-}" ] && [ "$DOORLINK_NO_IA32" != 0 ] ||
                    ! /usr/lib/wine/wine --version >/dev/null 2>&1; }; then
    echo "32-bit programs cannot run on this kernel (ia32 emulation disabled):" \
         "the 32-bit Wine suite will be skipped, the 64-bit one runs" >&2
fi
exit $status
