"""The calls that concern no one controller: set-up, discovery, ping,
serial numbers, card list conversion and the card reader."""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import List, NamedTuple, Optional, Sequence, Union

from . import _native
from ._errors import DoorlinkError
from ._util import PathArg, check, path, read_text, text
from .registry import Registry, RegistryEntry, read_ini

def set_port_range(start: int, end: int) -> None:
    """Bind every later socket of the library within ``start``..``end``."""
    check(_native.library().SetPortRange(start, end), "SetPortRange", None, f"{start}..{end}")


def set_adaptive_wait(minimum_ms: int, address: Optional[str] = None) -> None:
    """Switch the adaptive wait on for a lossy link, for the controller at
    ``address`` or for all controllers when it is None.

    Queries and read-back requests then go again after a timeout measured
    from round trips, at least ``minimum_ms`` milliseconds (1..2000), rather
    than after 2 seconds; 0 switches it off.  Raises DoorlinkError for a
    bound outside 0..2000 or an address that is not dotted IPv4 text.
    """
    check(_native.library().SetAdaptiveWait(None if address is None else text(address), minimum_ms),
          "SetAdaptiveWait", address, f"{minimum_ms} ms")


def discover(*addresses: str, broadcast: bool = False) -> List[RegistryEntry]:
    """Ask for controllers and return the registry's entries afterwards.

    With ``broadcast=True`` the request goes to the local network; else it
    goes to each address given, all at once on threads of their own.  Every
    request lasts about 12 seconds, however soon its controller answers.
    Raises DoorlinkError when no request could be sent at all.
    """
    lib = _native.library()
    if broadcast:
        if lib.FindEqm(b"", 1) == -1:
            raise DoorlinkError("FindEqm", None, "the broadcast could not be sent")
        return list(Registry())
    if not addresses:
        raise ValueError("give controller addresses, or broadcast=True")
    results: List[int] = [0] * len(addresses)

    def ask(i: int) -> None:
        results[i] = lib.FindEqm(text(addresses[i]), 0)

    threads = [threading.Thread(target=ask, args=(i,)) for i in range(len(addresses))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if all(r == -1 for r in results):
        raise DoorlinkError("FindEqm", ", ".join(addresses), "no request could be sent")
    return list(Registry())


def ping(address: str) -> bool:
    """Whether an ICMP echo reply came back from ``address`` (up to four
    requests; the library writes a status line per attempt to ``ping.ini``
    in the current directory).  False also where this process may open no
    ICMP socket."""
    return bool(_native.library().Ping(text(address)) == 1)


def serial_number(mac: str) -> str:
    """The serial number text of a MAC text (12 hexadecimal digits)."""
    serial = ctypes.create_string_buffer(16)
    check(_native.library().TransMacToSerialNo(text(mac), serial), "TransMacToSerialNo", None,
          f"MAC text {mac!r}")
    return read_text(serial)


def list_file(list_number: int) -> Path:
    """The card list file of a list number."""
    return _native.library().home / "list" / f"doorname{list_number:03d}.dat"


def _source_cards(source: PathArg) -> int:
    cards = read_ini(os.fsdecode(source))
    keys = cards.get("cardno", {})
    count = 0
    while f"cardno{count + 1}" in keys:
        count += 1
    return count


def convert_card_list(source: PathArg, list_number: int, count: Optional[int] = None, *,
                      long: bool = False) -> Path:
    """Convert cards 1..``count`` (by default every ``CardNo`` key) of a card
    list source file into the list file of ``list_number`` (short records,
    or long with ``long=True``); returns the list file."""
    if count is None:
        count = _source_cards(source)
    export = "FormatName1" if long else "FormatName"
    check(getattr(_native.library(), export)(path(source), count, list_number), export, None,
          f"{count} cards of {source!r} into list {list_number}")
    return list_file(list_number)


def card_record(source: PathArg, card_index: int, *, long: bool = False) -> bytes:
    """The short (300-byte) or long (360-byte) record of one card of a card
    list source file."""
    size = 360 if long else 300
    record = (ctypes.c_uint8 * size)()
    export = "FormatSignalName1" if long else "FormatSignalName"
    check(getattr(_native.library(), export)(path(source), card_index, record), export, None,
          f"card {card_index} of {source!r}")
    return bytes(record)


def write_card(list_number: int, card: Union[str, Sequence[str]], serial_no: str, password: str, *,
               days: Union[str, Sequence[str]] = "", user_style: int = 1, open_style: int = 2,
               append: bool = True, long: bool = False) -> Path:
    """Write one card record from arguments into the list file of
    ``list_number``, appended or (``append=False``) as a new list.

    ``card`` is a card text of 8 digits; long records take up to 11 of them.
    ``days`` are the time ranges like ``"0800-1200-01;1300-1730-01;"``: one
    text for every day, or seven from Sunday.  Returns the list file.
    """
    day_texts = [days] * 7 if isinstance(days, str) else list(days)
    if len(day_texts) != 7:
        raise ValueError("give one day text, or seven from Sunday")
    cards = card if isinstance(card, str) else ",".join(card)
    export = "NameToText1" if long else "NameToText"
    check(getattr(_native.library(), export)(
        text(cards), text(serial_no), user_style, *(text(d) for d in day_texts), text(password),
        open_style, list_number, 1 if append else 0), export, None, f"card {cards} into list {list_number}")
    return list_file(list_number)


def read_back_to_ini(read_back_file: PathArg, number: int) -> Path:
    """Turn a read-back card file into ``ReCardNNN.ini`` beside it, with the
    keys of a card list source file; returns that file."""
    check(_native.library().NameToini(path(read_back_file), number), "NameToini", None,
          repr(read_back_file))
    return Path(os.fsdecode(read_back_file)).parent / f"ReCard{number:03d}.ini"


class CardRead(NamedTuple):
    """A card the card reader read."""

    value: int  #: the card value, up to ten decimal digits
    card: str  #: card text "sssnnnnn"


def read_card(port: str) -> CardRead:
    """Read one card from the card reader on a serial port (``COM1``,
    ``/dev/ttyS0``...), polling it for about five seconds at most."""
    result = ctypes.create_string_buffer(32)
    check(_native.library().GetCardNo(text(port), result), "GetCardNo", None, f"port {port}")
    value, _, card = read_text(result).partition(",")
    return CardRead(int(value), card)


__all__ = ["set_port_range", "discover", "ping", "serial_number", "list_file", "convert_card_list",
           "card_record", "write_card", "read_back_to_ini", "CardRead", "read_card"]
