#!/bin/sh
# `pip install --no-build-isolation` of the package with Debian's pip and
# setuptools and no package index, into a directory of its own; the
# installed package must carry its type information, name every export and
# give the version of the CMake project (VERSION).
#   pip_install.sh VERSION
set -eu
python=/usr/bin/python3
if ! "$python" -m pip --version >/dev/null 2>&1; then
    echo "SKIPPED: pip is not installed for $python (scripts/install-deps.sh installs python3-pip)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A copy laid out as in the tree (the build reads the version from
# ../CMakeLists.txt), so that the build leaves nothing in the source tree.
root="$(dirname "$0")/../.."
mkdir "$work/source"
cp "$root/CMakeLists.txt" "$work/source/"
cp -rL "$root/python" "$work/source/python"
rm -rf "$work/source/python/tests"
PIP_NO_INDEX=1 "$python" -m pip install --quiet --no-build-isolation --no-deps --no-cache-dir \
    --disable-pip-version-check --target "$work/target" "$work/source/python"
test -f "$work/target/doorlink/py.typed"
cd "$work"
PYTHONPATH="$work/target" "$python" -B -c '
import doorlink
assert doorlink.__file__.startswith("'"$work"'/target/"), doorlink.__file__
assert len(doorlink.PROTOTYPES) == 48  # the 46, DoorSetTimeTo and SetAdaptiveWait
assert doorlink.__version__ == "'"$1"'", doorlink.__version__ + " is not '"$1"'"
print("installed doorlink", doorlink.__version__, "in", doorlink.__file__)'
