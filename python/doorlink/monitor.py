"""The monitoring socket: what a monitored controller pushes to this host."""

from __future__ import annotations

import ctypes
import os
import select
import socket
import sys
import threading
import time
from dataclasses import dataclass
from datetime import datetime
from pathlib import Path
from types import TracebackType
from typing import Iterator, Optional, Type, Union

from . import _native
from ._errors import DoorlinkError
from ._util import read_text, text

_PHOTO_BLOCK = 1052  # the length of a live photo block


def _is_acknowledgement(datagram: bytes) -> bool:
    """A 10-byte datagram that opens like the acknowledgement pattern: the
    library passes over it while waiting for a report."""
    return len(datagram) == 10 and datagram[:2] == b"\xf1\xf2"


def _close_handle(handle: int) -> None:
    if sys.platform == "win32":
        # The library started Windows Sockets for this socket; its owner
        # closes it and ends that start.
        ws2 = ctypes.WinDLL("ws2_32")
        ws2.closesocket(ctypes.c_size_t(handle))
        ws2.WSACleanup()
    else:
        os.close(handle)


@dataclass(frozen=True)
class ErrorReport:
    """An error report a controller pushed; the library has appended it to
    ``error/errorNNN.txt``."""

    controller_number: int  #: the number the report was logged under
    text: str  #: the report's own text
    raw: bytes  #: the whole error text the library formed, as 8-bit bytes


@dataclass(frozen=True)
class Photo:
    """A photo a controller pushed, written to ``curpic/<card>.jpg``."""

    card: str  #: card text "sssnnnnn"
    taken: Optional[datetime]  #: None when the controller sent no valid time
    path: Path


Event = Union[ErrorReport, Photo]


class Monitor:
    """The open monitoring socket of one controller.

    :meth:`receive` waits for the next pushed error report or photo;
    iterating yields them as they come.  Receive from one thread at a time.
    """

    def __init__(self, handle: int, address: str, controller_number: int) -> None:
        self.handle = handle  #: the socket handle the library handed over
        self.address = address
        self.controller_number = controller_number
        self._lock = threading.Lock()
        self._socket: Optional[socket.socket] = None
        try:
            self._socket = socket.socket(fileno=handle)
        except OSError:
            _close_handle(handle)
            raise

    def receive(self, timeout: Optional[float] = 2.0) -> Optional[Event]:
        """The next error report or photo, or None when nothing came within
        ``timeout`` seconds (None: wait without limit)."""
        with self._lock:
            sock = self._socket
            if sock is None:
                raise ValueError("the monitoring socket is closed")
            deadline = None if timeout is None else time.monotonic() + timeout
            while True:
                left = None if deadline is None else max(0.0, deadline - time.monotonic())
                if not select.select([sock], [], [], left)[0]:
                    return None
                head = sock.recv(2048, socket.MSG_PEEK)
                if len(head) == _PHOTO_BLOCK:
                    return self._photo()
                if not head or _is_acknowledgement(head):
                    sock.recv(2048)  # nothing a host is told about
                    continue
                return self._error_report()

    def __iter__(self) -> Iterator[Event]:
        while True:
            event = self.receive(None)
            if event is not None:
                yield event

    def _error_report(self) -> ErrorReport:
        buffer = ctypes.create_string_buffer(1066 + 16)
        if _native.library().ErrorScore(text(self.address), buffer, self.controller_number,
                                        self.handle) != 1:
            raise DoorlinkError("ErrorScore", self.address)
        raw = buffer.value
        return ErrorReport(self.controller_number, raw.partition(b"\n")[2].decode("latin-1"), raw)

    def _photo(self) -> Photo:
        card = ctypes.create_string_buffer(16)
        taken = ctypes.create_string_buffer(32)
        if _native.library().DoorPic(0, card, taken, self.handle) != 1:
            raise DoorlinkError("DoorPic", self.address, "the photo broke off")
        card_text = read_text(card)
        try:
            when: Optional[datetime] = datetime.strptime(read_text(taken), "%Y-%m-%d %H:%M")
        except ValueError:
            when = None
        return Photo(card_text, when, _native.library().home / "curpic" / f"{card_text}.jpg")

    def close(self) -> None:
        """Close the monitoring socket (done on leaving the ``with`` block)."""
        sock, self._socket = getattr(self, "_socket", None), None
        if sock is not None:
            _close_handle(sock.detach())

    def __del__(self) -> None:
        self.close()


class monitoring:
    """The context manager :meth:`Controller.monitor` returns: yields the
    :class:`Monitor` and closes its socket on exit."""

    def __init__(self, monitor: Monitor) -> None:
        self.monitor = monitor

    def __enter__(self) -> Monitor:
        return self.monitor

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.monitor.close()
