#!/usr/bin/env bash
# clang-format over the C and C++ sources that git tracks (every such file
# below the source tree where there is no git checkout), with .clang-format.
#   format.sh           rewrites them
#   format.sh --check   changes nothing; lists each file it would change and
#                       fails when there is one
set -uo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14) || {
    echo "clang-format-14 is missing (make lint and make format install it)" >&2
    exit 1
}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path './build*' -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print)
fi
if [ "${1:-}" != --check ]; then
    exec "$formatter" -i "${files[@]}"
fi
status=0
for file in "${files[@]}"; do
    if ! "$formatter" "$file" | cmp -s - "$file"; then
        echo "format: $file is not formatted (make format rewrites it)"
        status=1
    fi
done
[ $status -eq 0 ] && echo "format: every file formatted"
exit $status
