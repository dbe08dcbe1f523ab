#!/usr/bin/env bash
# clang-tidy over the library's sources (and the headers they include from
# src/ and include/), with the checks of .clang-tidy; any finding fails.
#   lint.sh BUILD-DIR JOBS      (BUILD-DIR holds compile_commands.json)
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
run-clang-tidy -p "$1" -j "$2" -quiet "$source_dir/src/" 2>&1 |
    grep -v -E '^(clang-tidy|[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter)'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
