#!/usr/bin/env bash
# The Windows zip doorlink-<version>-win32.zip in OUTDIR, from the 32-bit
# build in BUILD (make windows-build), under the directory
# doorlink-<version>-win32/:
#   doorlink.dll, libdoorlink.dll.a, doorlink.def   the DLL (stripped), its
#                                                   import library, its exports
#   include/doorlink/doorlink.h, Doorlink.cs        the header, the C# declarations
#   README.md, LICENSE
#   notices/                                        the licences of what the DLL
#                                                   links in statically, from the
#                                                   Debian packages that hold it
# Without the 32-bit cross compiler it says so and makes no zip.
#   package-win32.sh BUILD OUTDIR
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD OUTDIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
target=i686-w64-mingw32
compiler=$target-g++-posix
if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "no Windows zip: the 32-bit MinGW-w64 compiler $compiler is missing" \
         "(scripts/install-windows-deps.sh toolchain installs it)" >&2
    exit 0
fi
if [ ! -f "$build/doorlink.dll" ]; then
    echo "$build/doorlink.dll is missing (make windows-build)" >&2
    exit 1
fi
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$("$root/scripts/project-version.sh")
name=doorlink-$version-win32
zip="$out/$name.zip"
rm -f "$zip"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir="$stage/$name"
mkdir -p "$dir/include/doorlink" "$dir/notices"
"$target-strip" --strip-unneeded -o "$dir/doorlink.dll" "$build/doorlink.dll"
cp "$build/libdoorlink.dll.a" "$build/doorlink.def" "$dir/"
cp "$root/include/doorlink/doorlink.h" "$dir/include/doorlink/"
cp "$root/bindings/csharp/Doorlink.cs" "$root/README.md" "$root/LICENSE" "$dir/"

# notice LIBRARY NAME: notices/NAME.txt is the copyright file of the Debian
# package holding LIBRARY as the cross compiler links it; prints that package.
notice() {
    local file package
    file=$(readlink -f "$("$compiler" -print-file-name="$1")")
    package=$(dpkg -S "$file" | cut -d: -f1)
    if [ -e "$dir/notices/$2.txt" ] && ! cmp -s "/usr/share/doc/$package/copyright" "$dir/notices/$2.txt"; then
        echo "$1 ($package) has a copyright file of its own: give it a notice of its own" >&2
        exit 1
    fi
    cp "/usr/share/doc/$package/copyright" "$dir/notices/$2.txt"
    echo "$package $(dpkg-query -W -f='${Version}' "$package")"
}
libstdcxx=$(notice libstdc++.a gcc-runtime)
libgcc=$(notice libgcc.a gcc-runtime)
winpthreads=$(notice libwinpthread.a mingw-w64)
cp /usr/share/common-licenses/GPL-3 "$dir/notices/GPL-3.txt"
cat >"$dir/notices/README.txt" <<NOTICE
doorlink.dll links in, statically, parts of the compiler's runtime; these
are their licences and copyright notices.

- The GNU C++ runtime (libstdc++) and libgcc, from GCC: under the GNU
  General Public License version 3 or later (GPL-3.txt) with the GCC Runtime
  Library Exception 3.1, which allows linking them into a program under any
  licence; their copyright and the Exception are in gcc-runtime.txt. From
  the Debian packages
  $libstdcxx (libstdc++) and
  $libgcc (libgcc).
- winpthreads, the POSIX threads of mingw-w64, under the expat (MIT)
  licence, and the startup code of the mingw-w64 runtime: mingw-w64.txt.
  From the Debian package $winpthreads.

gcc-runtime.txt and mingw-w64.txt are the copyright files of those Debian
packages; GPL-3.txt is the licence text of Debian's base-files.
NOTICE

(cd "$stage" && find "$name" -type f | LC_ALL=C sort | zip -q -X "$zip" -@)
echo "$zip ($(du -k "$zip" | cut -f1) KiB)"
