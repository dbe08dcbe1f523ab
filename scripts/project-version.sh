#!/usr/bin/env bash
# Prints the version of project() in the top-level CMakeLists.txt, the one
# place it is written, for the packaging scripts.
#   project-version.sh [CMAKELISTS]    the tree's own when not given
set -euo pipefail
file=${1:-"$(dirname "$0")/../CMakeLists.txt"}
version=$(sed -n 's/^project(doorlink VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$file")
if [ -z "$version" ]; then
    echo "$file: no project(doorlink VERSION x.y.z)" >&2
    exit 1
fi
echo "$version"
