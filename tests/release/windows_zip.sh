#!/bin/sh
# The Windows zip of make package as a user unpacks it: it holds exactly the
# DLL, its import library and module definition file, the header, the C#
# declarations, the README, the licence and the notices of what the DLL
# links in; the DLL exports what the header declares, and its version
# resource, read with windres of Debian's MinGW-w64 binutils, says VERSION.
#   windows_zip.sh PACKAGE-DIR VERSION SOURCE-DIR
set -eu
windres=i686-w64-mingw32-windres
if ! command -v "$windres" >/dev/null 2>&1; then
    echo "SKIPPED: the 32-bit MinGW-w64 toolchain is missing" \
         "(scripts/install-windows-deps.sh toolchain), so make package makes no Windows zip"
    exit 77
fi
fail() {
    echo "$*" >&2
    exit 1
}
version=$2
source=$3
name=doorlink-$version-win32
zip="$1/$name.zip"
[ -f "$zip" ] || fail "no $zip (make package)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unzip -Z1 "$zip" | grep -v "/$" | LC_ALL=C sort >"$work/listing"
LC_ALL=C sort >"$work/expected" <<FILES
$name/Doorlink.cs
$name/LICENSE
$name/README.md
$name/doorlink.def
$name/doorlink.dll
$name/include/doorlink/doorlink.h
$name/libdoorlink.dll.a
$name/notices/GPL-3.txt
$name/notices/README.txt
$name/notices/gcc-runtime.txt
$name/notices/mingw-w64.txt
FILES
diff -u "$work/expected" "$work/listing" || fail "$zip: not the files expected (- missing, + unexpected)"
unzip -q "$zip" -d "$work"
dir="$work/$name"

for file in include/doorlink/doorlink.h:include/doorlink/doorlink.h Doorlink.cs:bindings/csharp/Doorlink.cs \
            README.md:README.md LICENSE:LICENSE; do
    cmp -s "$dir/${file%%:*}" "$source/${file#*:}" || fail "${file%%:*} differs from the tree's ${file#*:}"
done
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$dir/notices/gcc-runtime.txt" ||
    fail "notices/gcc-runtime.txt lacks the GCC Runtime Library Exception"
grep -q "winpthreads" "$dir/notices/mingw-w64.txt" || fail "notices/mingw-w64.txt does not cover winpthreads"
{ grep -q "GNU GENERAL PUBLIC LICENSE" "$dir/notices/GPL-3.txt" && grep -q "Version 3" "$dir/notices/GPL-3.txt"; } ||
    fail "notices/GPL-3.txt is not the GPL version 3"

# The exports, imports, module definition file and import library, as the
# Windows build is checked.
cmake -DHEADER="$source/include/doorlink/doorlink.h" -DBUILD="$dir" -DMINGW_TARGET=i686-w64-mingw32 \
    -P "$source/cmake/check_win32_exports.cmake"

"$windres" --input-format=coff --output-format=rc -i "$dir/doorlink.dll" -o "$work/resources.rc"
numbers=$(echo "$version" | sed 's/\./, /g')
for line in "FILEVERSION $numbers, 0" "PRODUCTVERSION $numbers, 0" \
            "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
    grep -qF "$line" "$work/resources.rc" || fail "the version resource lacks $line:
$(cat "$work/resources.rc")"
done
echo "$zip: $(wc -l <"$work/listing") files; version resource $version"
