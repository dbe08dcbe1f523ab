"""The shared library and the ctypes prototypes of its 48 exports (the 46,
DoorSetTimeTo, which sets a clock to a given local time, and SetAdaptiveWait,
which switches on the adaptive wait for lossy links).

The library is looked up, in this order, at the path in the environment
variable ``DOORLINK_LIBRARY``, beside this package, and on the system's
library path.  On Windows the exports of the 32-bit DLL use the standard
calling convention and are loaded through :class:`ctypes.WinDLL`; elsewhere
through :class:`ctypes.CDLL`.  Both release the interpreter lock for the
length of every call, so calls from several threads run side by side.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

from ._errors import DoorlinkError

# Argument and result types as the header declares them.
U8 = ctypes.c_uint8
U16 = ctypes.c_uint16
U32 = ctypes.c_uint32
I32 = ctypes.c_int32
TEXT = ctypes.c_char_p  #: const char*: a text the library reads
OUT_TEXT = ctypes.POINTER(ctypes.c_char)  #: char*: a buffer the library writes
BYTES = ctypes.POINTER(ctypes.c_uint8)  #: uint8_t* and const uint8_t*
U32_OUT = ctypes.POINTER(ctypes.c_uint32)  #: uint32_t*

#: name: (result type, argument types), in the order of the header.
PROTOTYPES: Dict[str, Tuple[object, Tuple[object, ...]]] = {
    "SetPortRange": (U32, (I32, I32)),
    "SetAdaptiveWait": (U32, (TEXT, I32)),
    "DoorSetTime": (U32, (TEXT, TEXT)),
    "DoorSetTimeTo": (U32, (TEXT, TEXT, TEXT)),
    "DoorShowTime": (U32, (TEXT, OUT_TEXT, U32_OUT, TEXT)),
    "DoorCompelOpenOrClose": (U32, (TEXT, U32, TEXT)),
    "MulDoorCompelOpenOrClose": (U32, (TEXT, U32, I32, TEXT)),
    "DoorInit": (U32, (TEXT, TEXT)),
    "DoorCurState": (U32, (TEXT, TEXT, U32_OUT)),
    "MulDoorCurState": (U32, (TEXT, TEXT, U32_OUT, I32)),
    "DoorState": (BYTES, (TEXT, U32, TEXT)),
    "DoorRecAndDir": (U32, (TEXT, U32_OUT, U32_OUT, TEXT)),
    "DoorLockAndButtonTime": (U32, (TEXT, TEXT, TEXT, TEXT)),
    "MulDoorLockAndButtonTime": (U32, (TEXT, TEXT, TEXT, U8, TEXT)),
    "DoorLockAndButtonTime3": (U32, (TEXT, TEXT, TEXT, TEXT)),
    "LockAndButtonTime": (U32, (TEXT, TEXT, TEXT, TEXT, I32, I32)),
    "SetMode": (U32, (BYTES, TEXT, TEXT)),
    "MulSetMode": (U32, (BYTES, U8, TEXT, TEXT)),
    "DoorRestDay": (U32, (TEXT, TEXT, TEXT, TEXT)),
    "DoorScout": (U32, (TEXT, U32_OUT)),
    "DoorScout1": (U32, (TEXT, U8, U32_OUT)),
    "PhotoTest": (U32, (TEXT,)),
    "DoorFlag": (U32, (TEXT, U8, TEXT, TEXT)),
    "GetCardNo": (U32, (TEXT, OUT_TEXT)),
    "SysComInter": (U32, (TEXT, U16, U32, U32, BYTES, BYTES, BYTES)),
    "FormatName": (U32, (TEXT, I32, U32)),
    "FormatName1": (U32, (TEXT, I32, U32)),
    "TransformName": (U32, (TEXT, I32, U32, U32)),
    "FormatSignalName": (U32, (TEXT, I32, BYTES)),
    "FormatSignalName1": (U32, (TEXT, I32, BYTES)),
    "NameToText": (U32, (TEXT, TEXT, U32) + (TEXT,) * 8 + (U32, I32, U32)),
    "NameToText1": (U32, (TEXT, TEXT, U32) + (TEXT,) * 8 + (U32, I32, U32)),
    "DoorDownName": (U32, (TEXT, I32, I32, TEXT)),
    "DoorDownName1": (U32, (TEXT, I32, I32, TEXT)),
    "DownName": (U32, (TEXT, I32, I32, TEXT, U32)),
    "LookDoorName": (U32, (TEXT, I32, TEXT)),
    "NameToini": (U32, (TEXT, I32)),
    "FindEqm": (I32, (TEXT, U8)),
    "modifyEqm": (U32, (BYTES, TEXT, TEXT)),
    "DoorTransIP": (U32, (TEXT, U32_OUT, TEXT)),
    "SetMacAddr": (U32, (TEXT, BYTES, OUT_TEXT)),
    "MacInfo": (U32, (TEXT, I32, OUT_TEXT, OUT_TEXT)),
    "TransMacToSerialNo": (U32, (TEXT, OUT_TEXT)),
    "Ping": (U32, (TEXT,)),
    "DataRtn": (U32, (TEXT, I32, TEXT)),
    "TxDataRtn": (U32, (TEXT, I32, TEXT)),
    "ErrorScore": (U32, (TEXT, OUT_TEXT, I32, U32)),
    "DoorPic": (U32, (U32, OUT_TEXT, OUT_TEXT, U32)),
}


def _library_names() -> Sequence[str]:
    if sys.platform == "win32":
        return ("doorlink.dll",)
    if sys.platform == "darwin":
        return ("libdoorlink.dylib",)
    return ("libdoorlink.so", "libdoorlink.so.0")


def candidate_paths() -> List[str]:
    """Where the library is looked for, in order."""
    found: List[str] = []
    explicit = os.environ.get("DOORLINK_LIBRARY")
    if explicit:
        found.append(explicit)
    here = Path(__file__).resolve().parent
    found.extend(str(here / name) for name in _library_names() if (here / name).exists())
    system = ctypes.util.find_library("doorlink")
    if system:
        found.append(system)
    found.extend(_library_names())  # the dynamic loader's own search path
    return found


class Library:
    """The loaded library: one attribute per export, with its prototype set."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.handle: ctypes.CDLL
        if sys.platform == "win32":
            self.handle = ctypes.WinDLL(path)  # the 32-bit DLL's exports are stdcall
        else:
            self.handle = ctypes.CDLL(path)
        for name, (result, arguments) in PROTOTYPES.items():
            function = getattr(self.handle, name)
            function.restype = result
            function.argtypes = list(arguments)
            setattr(self, name, function)
        # The module directory the library keeps its files under, taken when
        # it was loaded, as the library reads it then.
        self.home = _module_directory()

    def __getattr__(self, name: str) -> Any:
        # Reached only for names that are not exports.
        raise AttributeError(f"doorlink has no export {name}")


def _module_directory() -> Path:
    home = os.environ.get("DOORLINK_HOME")
    if home:
        return Path(home)
    if sys.platform.startswith("linux"):
        return Path(os.readlink("/proc/self/exe")).parent
    return Path(sys.executable).resolve().parent


_lock = threading.Lock()
_library: Optional[Library] = None


def library() -> Library:
    """The library, loaded on first use."""
    global _library
    with _lock:
        if _library is None:
            failures = []
            for path in candidate_paths():
                try:
                    _library = Library(path)
                    break
                except OSError as error:
                    failures.append(f"{path}: {error}")
            else:
                raise DoorlinkError(
                    "load", None,
                    "libdoorlink not found; set DOORLINK_LIBRARY to its path (tried "
                    + "; ".join(failures) + ")")
        return _library
