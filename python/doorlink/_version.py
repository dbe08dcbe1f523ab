"""The package's version: the CMake project version, written only in
project() of the top-level CMakeLists.txt.

An installed package takes it from the metadata it was installed with; the
wheel build (``[tool.setuptools.dynamic]`` in pyproject.toml) and a package
used from a checkout read it from that CMakeLists.txt, two directories up.
"""

from __future__ import annotations

import re
from importlib import metadata
from pathlib import Path
from typing import Optional

_PACKAGE = Path(__file__).resolve().parent


def checkout_version() -> str:
    """The version in the CMakeLists.txt of the checkout holding this package."""
    cmakelists = _PACKAGE.parents[1] / "CMakeLists.txt"
    match = re.search(r"^project\(doorlink VERSION (\d+\.\d+\.\d+)", cmakelists.read_text(), re.M)
    if not match:
        raise RuntimeError(f"{cmakelists}: no project(doorlink VERSION x.y.z)")
    return match.group(1)


def _installed_version() -> Optional[str]:
    try:
        distribution = metadata.distribution("doorlink")
    except metadata.PackageNotFoundError:
        return None
    # Only the metadata installed with this very copy of the package, not
    # that of another copy elsewhere on the path.
    if Path(distribution.locate_file("doorlink")).resolve() != _PACKAGE:
        return None
    return distribution.version


def version() -> str:
    """The installed version, else the checkout's, else "0+unknown" (a copy of
    the package on its own)."""
    installed = _installed_version()
    if installed:
        return installed
    try:
        return checkout_version()
    except (OSError, RuntimeError):
        return "0+unknown"
