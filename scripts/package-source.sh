#!/usr/bin/env bash
# The source archive doorlink-<version>.tar.gz in OUTDIR: `git archive` of
# the commit checked out (HEAD, without what is not committed) under the
# directory doorlink-<version>/, and its SHA-256 checksum in
# doorlink-<version>.tar.gz.sha256 (sha256sum -c reads it). The version is
# that of the commit. Outside a git checkout it says so and makes none.
#   package-source.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd -P)
# Not the checkout of a directory that holds this tree unpacked.
if [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" != "$root" ] ||
    ! git -C "$root" rev-parse --verify -q HEAD >/dev/null; then
    echo "no source archive: $root is no git checkout with a commit" >&2
    exit 0
fi
mkdir -p "$1"
cd "$1"
version=$("$root/scripts/project-version.sh" <(git -C "$root" show HEAD:CMakeLists.txt))
archive=doorlink-$version.tar.gz
git -C "$root" archive --format=tar.gz --prefix="doorlink-$version/" -o "$PWD/$archive" HEAD
sha256sum "$archive" >"$archive.sha256"
echo "$PWD/$archive ($(du -k "$archive" | cut -f1) KiB), $archive.sha256"
if ! git -C "$root" diff --quiet HEAD; then
    echo "note: $archive holds the last commit, not the changes not yet committed" >&2
fi
