#!/usr/bin/env bash
# clang-tidy over the sources of the library (src/), the fleet service
# (service/src/), doorsim (sim/) and doorctl (tools/doorctl/), and the
# headers of theirs they include, with the checks of .clang-tidy; any finding
# fails. Tests and benchmarks are not linted. Where the build directory
# batches files (DOORLINK_UNITY), each batch is linted as one file: the
# headers they share are read and checked once a batch instead of once a
# file, which takes a third of the time, and its .cpp files are included by
# design.
#   lint.sh BUILD-DIR JOBS      (BUILD-DIR holds compile_commands.json)
set -uo pipefail
# The physical path, as CMake writes the sources' paths.
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
sources="$(printf '%s' "$source_dir" | sed 's/[.[\*^$()+?{}|]/\\&/g')/(src|service/src|sim|tools/doorctl)/"
# A database without them would pass without a look.
if ! grep -qE "\"file\": \"$sources" "$1/compile_commands.json"; then
    echo "lint: $1/compile_commands.json names none of the sources" >&2
    exit 1
fi
# clang-tidy 22 (Debian's clang-tidy-22) leaves the system headers alone and
# lints the whole tree in a quarter of the time version 14 takes; 14, where
# 22 cannot be had, is taken instead: the tree passes both.
runner=run-clang-tidy
command -v run-clang-tidy-22 >/dev/null 2>&1 && runner=run-clang-tidy-22
build_dir="$(cd "$1" && pwd -P | sed 's/[.[\*^$()+?{}|]/\\&/g')"
batches="$build_dir/.*/Unity/unity_[0-9]+_cxx\.cxx"
tidy() {
    "$runner" -p "$1" -j "$2" -quiet "${@:3}" 2>&1 |
        grep -v -E '^(clang-tidy|\[ *[0-9]+/[0-9]+\]|[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|No relevant files)'
    return "${PIPESTATUS[0]}"
}
status=0
tidy "$1" "$2" "^$sources" || status=$?
if grep -qE "\"file\": \"$batches" "$1/compile_commands.json"; then
    tidy "$1" "$2" -checks=-bugprone-suspicious-include "^$batches" || status=$?
fi
[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
