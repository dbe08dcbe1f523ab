#!/bin/sh
# The source archive of make package as a user fetches it: its checksum file
# verifies it, everything lies under doorlink-VERSION/, it holds
# CMakeLists.txt (of that version) and LICENSE, and it is the archive of the
# commit checked out in SOURCE-DIR.
#   source_archive.sh PACKAGE-DIR VERSION SOURCE-DIR
set -eu
version=$2
source=$(cd "$3" && pwd -P)
if [ "$(git -C "$source" rev-parse --show-toplevel 2>/dev/null)" != "$source" ] ||
    ! git -C "$source" rev-parse --verify -q HEAD >/dev/null; then
    echo "SKIPPED: $source is no git checkout, so make package makes no source archive"
    exit 77
fi
fail() {
    echo "$*" >&2
    exit 1
}
cd "$1"
archive=doorlink-$version.tar.gz
prefix=doorlink-$version/
{ [ -f "$archive" ] && [ -f "$archive.sha256" ]; } || fail "no $archive or $archive.sha256 (make package)"
[ "$(awk '{ print $2 }' "$archive.sha256")" = "$archive" ] || fail "$archive.sha256 names another file"
sha256sum --check --strict --quiet "$archive.sha256" || fail "$archive does not match its checksum"

listing=$(tar -tzf "$archive")
outside=$(echo "$listing" | grep -v "^$prefix" || true)
[ -z "$outside" ] || fail "$archive has files outside $prefix: $outside"
for file in CMakeLists.txt LICENSE; do
    echo "$listing" | grep -qx "$prefix$file" || fail "$archive lacks $prefix$file"
done
archived=$(tar -xzOf "$archive" "${prefix}CMakeLists.txt" | "$source/scripts/project-version.sh" /dev/stdin)
[ "$archived" = "$version" ] || fail "the CMakeLists.txt of $archive says version $archived"
commit=$(gzip -dc "$archive" | git get-tar-commit-id)
[ "$commit" = "$(git -C "$source" rev-parse HEAD)" ] || fail "$archive is of commit $commit, not of HEAD"
echo "$archive: $(echo "$listing" | wc -l) entries under $prefix, of commit $commit; checksum verified"
