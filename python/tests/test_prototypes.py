"""Every ctypes prototype matches the declaration in the public header."""

from __future__ import annotations

import ctypes
import os
import re
from pathlib import Path

import doorlink
from doorlink import _native

HEADER = Path(os.environ.get("DOORLINK_HEADER", Path(__file__).resolve().parents[2] / "include"
                             / "doorlink" / "doorlink.h"))

C_TYPES = {
    "uint32_t": _native.U32, "int32_t": _native.I32, "uint16_t": _native.U16, "uint8_t": _native.U8,
    "const char*": _native.TEXT, "char*": _native.OUT_TEXT, "uint8_t*": _native.BYTES,
    "const uint8_t*": _native.BYTES, "uint32_t*": _native.U32_OUT,
}


def c_type(declared: str):
    """The ctypes type of a C type such as "const char *"."""
    return C_TYPES[re.sub(r"\s*\*", "*", " ".join(declared.split()))]


def declarations():
    """(name, result type, argument types) of every export in the header."""
    source = re.sub(r"/\*.*?\*/", "", HEADER.read_text(), flags=re.S)
    source = re.sub(r"^\s*#.*$", "", source, flags=re.M)
    for result, name, arguments in re.findall(
            r"DOORLINK_API\s+([\w\s]+?\**)\s*DOORLINK_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", source):
        # Each argument is its type and a name.
        types = [c_type(re.fullmatch(r"\s*(.+?[\s*])\s*\w+\s*", a, flags=re.S).group(1))
                 for a in arguments.split(",")]
        yield name, c_type(result), types


def test_every_prototype_matches_the_header():
    declared = {name: (result, arguments) for name, result, arguments in declarations()}
    assert len(declared) == 48  # the 46, DoorSetTimeTo and SetAdaptiveWait
    assert "DoorSetTimeTo" in declared and "SetAdaptiveWait" in declared
    assert sorted(declared) == sorted(_native.PROTOTYPES)
    library = doorlink.library()
    for name, (result, arguments) in declared.items():
        function = getattr(library, name)
        assert function.restype is result, name
        assert list(function.argtypes) == arguments, name
        assert isinstance(getattr(library.handle, name), ctypes._CFuncPtr), name
