#!/usr/bin/env bash
# The Python wheel doorlink-<version>-py3-none-any.whl in OUTDIR: the
# package of python/ alone (pure Python; it finds the library at run time),
# built with Debian's pip, setuptools and wheel and no package index.
#   package-python.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
python=/usr/bin/python3
if ! "$python" -m pip --version >/dev/null 2>&1 || ! "$python" -c "import setuptools, wheel" 2>/dev/null; then
    echo "no Python wheel: pip, setuptools or wheel is missing for $python" \
         "(scripts/install-deps.sh installs python3-pip, python3-setuptools and python3-wheel)" >&2
    exit 0
fi
version=$("$root/scripts/project-version.sh")
wheel="$out/doorlink-$version-py3-none-any.whl"
rm -f "$wheel"

# A copy of the package's sources alone, laid out as in the tree (the
# version is read from ../CMakeLists.txt), so that the build leaves nothing
# in the tree and no library lying beside the package gets into the wheel.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/python/doorlink"
cp "$root/CMakeLists.txt" "$stage/"
cp -L "$root"/python/{pyproject.toml,README.md,LICENSE} "$stage/python/"
cp "$root"/python/doorlink/{*.py,py.typed} "$stage/python/doorlink/"
"$python" -m pip wheel --quiet --no-build-isolation --no-index --no-deps --no-cache-dir \
    --disable-pip-version-check --wheel-dir "$out" "$stage/python"
test -f "$wheel" || { echo "pip built no $wheel" >&2; exit 1; }
echo "$wheel ($(du -k "$wheel" | cut -f1) KiB)"
