"""Conversions between Python values and the library's 8-bit texts."""

from __future__ import annotations

import ctypes
import os
from datetime import datetime
from typing import Optional, Union

from ._errors import DoorlinkError

Text = Union[str, bytes]
PathArg = Union[str, bytes, "os.PathLike[str]"]


def text(value: Text) -> bytes:
    """A text as the library's 8-bit characters."""
    if isinstance(value, bytes):
        return value
    return value.encode("latin-1")


def path(value: PathArg) -> bytes:
    """A file path as the library takes it."""
    return os.fsencode(value)


def read_text(buffer: "ctypes.Array[ctypes.c_char]") -> str:
    """The text a library call wrote into a buffer, up to its first zero."""
    return buffer.value.decode("latin-1")


def check(result: int, export: str, controller: Optional[str], detail: str = "") -> None:
    """Raise DoorlinkError unless an export returned 1."""
    if result != 1:
        raise DoorlinkError(export, controller, detail)


def complete_year(two_digits: int) -> int:
    """A two-digit year from a controller, completed with the century of
    this host's local clock as the library completes it."""
    return datetime.now().year // 100 * 100 + two_digits


def bytes_of(data: bytes) -> "ctypes.Array[ctypes.c_uint8]":
    """A byte buffer the library can read."""
    return (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))
