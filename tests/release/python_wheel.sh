#!/bin/sh
# The wheel of make package as a user installs it: `pip install --no-index
# --target` into a directory of its own, then imported from there. It must
# give the CMake project version, be pure Python, and state its licence.
#   python_wheel.sh PACKAGE-DIR VERSION
set -eu
python=/usr/bin/python3
if ! "$python" -m pip --version >/dev/null 2>&1; then
    echo "SKIPPED: pip is not installed for $python (scripts/install-deps.sh installs python3-pip)," \
         "so make package makes no wheel"
    exit 77
fi
wheel="$1/doorlink-$2-py3-none-any.whl"
if [ ! -f "$wheel" ]; then
    echo "no $wheel (make package)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
PIP_ROOT_USER_ACTION=ignore "$python" -m pip install --quiet --no-index --no-deps --no-cache-dir \
    --disable-pip-version-check --target "$work/target" "$wheel"
# Isolated (-I): neither the working directory nor PYTHONPATH is searched.
"$python" -I -B - "$work/target" "$2" <<'PYTHON'
import sys
from importlib import metadata
from pathlib import Path

target, version = Path(sys.argv[1]).resolve(), sys.argv[2]
sys.path.insert(0, str(target))
import doorlink

assert target in Path(doorlink.__file__).resolve().parents, doorlink.__file__
assert doorlink.__version__ == version, f"__version__ {doorlink.__version__} is not {version}"
wheel = metadata.distribution("doorlink")
assert wheel.version == version, f"metadata version {wheel.version} is not {version}"
assert wheel.metadata["License"] == "MIT", wheel.metadata["License"]
assert (wheel.read_text("LICENSE") or "").startswith("MIT License"), "no LICENSE in the metadata"
assert "Root-Is-Purelib: true" in (wheel.read_text("WHEEL") or ""), "not a pure wheel"
native = [str(f) for f in wheel.files if f.suffix in (".so", ".dll", ".dylib", ".pyd")]
assert not native, f"libraries in a pure wheel: {native}"
print(f"doorlink {doorlink.__version__} from {doorlink.__file__}, {len(wheel.files)} files, MIT")
PYTHON
