"""A controller, named by its address and identified by its MAC text."""

from __future__ import annotations

import ctypes
import enum
import socket
from dataclasses import dataclass
from datetime import date, datetime, time
from pathlib import Path
from typing import Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _native
from ._errors import DoorlinkError
from ._util import bytes_of, check, complete_year, read_text, text
from .monitor import Monitor, monitoring

TimeItems = Union[str, Sequence[Union[str, time]]]


class ClockReading(NamedTuple):
    """The controller's clock as it answered."""

    time: datetime  #: the clock, its two-digit year completed with this host's century
    week_day: int  #: the seventh clock value, as the controller holds it (0 = Sunday when set by this host)


class RetrievalResult(enum.IntEnum):
    """How a record retrieval with photos ended (every value is a success)."""

    SILENT_AFTER_IMAGES = 1  #: the controller fell silent after every announced image
    END_MARKER = 2  #: the controller sent its end marker
    SHORT_REPLY = 3  #: the controller answered with a short reply


class TransferResult(enum.IntEnum):
    """How a record retrieval without photos ended (every value is a success)."""

    ALL_BLOCKS = 1  #: every block of records came
    NOTHING_STORED = 2  #: the controller had no records (end marker)


@dataclass(frozen=True)
class AccessRecord:
    """One access record as the retrieval wrote it into the record files."""

    card: str  #: card text "sssnnnnn": site byte and card number
    time: datetime
    controller_number: int
    kind: int  #: record kind (always 1 for retrievals with photos)
    photos: Tuple[Path, ...] = ()  #: the record's photo files, retrievals with photos only


@dataclass(frozen=True)
class Retrieval:
    """The outcome of :meth:`Controller.fetch_records`."""

    result: Union[RetrievalResult, TransferResult]
    records: Tuple[AccessRecord, ...]  #: the records this call added to the record file
    record_file: Path  #: the controller record file ``mjNNN.txt``, which every retrieval appends to


@dataclass(frozen=True)
class NetworkSettings:
    """What :meth:`Controller.set_network` gives a controller."""

    address: str  #: new controller address
    mask: str = "255.255.255.0"
    gateway: str = "0.0.0.0"
    device_number: int = 1  #: 1 to 254
    time_value: int = 0  #: 0 to 60, or 99
    image_mode: int = 1  #: 1, 2 or 3

    def record(self) -> bytes:
        """The 15-byte settings record of the request."""
        try:
            return (socket.inet_aton(self.address)
                    + bytes((self.time_value & 0xFF, self.image_mode & 0xFF, self.device_number & 0xFF))
                    + socket.inet_aton(self.mask) + socket.inet_aton(self.gateway))
        except OSError as error:
            raise ValueError(f"addresses, mask and gateway are dotted IPv4: {error}") from None


def _time_items(items: TimeItems, long: bool) -> bytes:
    if isinstance(items, str):
        return text(items)
    parts = [i.strftime("%H%M") if isinstance(i, time) else i for i in items]
    if long:
        return text("".join(p if p.endswith(";") else p + ";" for p in parts))
    return text(",".join(parts))


def _list_file(name: str, list_number: int) -> Path:
    return _native.library().home / "list" / (name % list_number)


class Controller:
    """A controller at ``address`` (dotted IPv4) with the MAC text ``mac``
    (12 hexadecimal digits, no separators).

    Every method is one call of the library: it opens its own socket, waits
    at most about two seconds for each answer and raises
    :class:`~doorlink.DoorlinkError` when the controller does not confirm.
    Methods may be called from any thread.
    """

    def __init__(self, address: str, mac: str) -> None:
        self.address = address
        self.mac = mac

    def __repr__(self) -> str:
        return f"Controller({self.address!r}, {self.mac!r})"

    @property
    def _who(self) -> str:
        return f"{self.address} ({self.mac})"

    @property
    def _a(self) -> bytes:
        return text(self.address)

    @property
    def _m(self) -> bytes:
        return text(self.mac)

    # ---- clock -----------------------------------------------------------

    def set_clock(self) -> datetime:
        """Set the controller's clock to this host's local time (the only
        time the controller command carries); returns the time sent, to the
        second."""
        sent = datetime.now().replace(microsecond=0)
        check(_native.library().DoorSetTime(self._a, self._m), "DoorSetTime", self._who)
        return sent

    def set_time_to(self, local_time: Union[datetime, str]) -> None:
        """Set the controller's clock to the given local time: a datetime
        (its time zone, if any, is not looked at: the fields are sent as they
        are) or its text "yyyymmddhhmmss"; the years 2000 to 2099. The week
        day sent is the date's own."""
        if isinstance(local_time, datetime):
            local_time = local_time.strftime("%Y%m%d%H%M%S")
        check(_native.library().DoorSetTimeTo(self._a, self._m, text(local_time)), "DoorSetTimeTo",
              self._who, local_time)

    def read_clock(self) -> ClockReading:
        """The controller's clock; DoorlinkError also when it holds no valid
        date and time."""
        buffer = ctypes.create_string_buffer(32)
        week_day = ctypes.c_uint32()
        check(_native.library().DoorShowTime(self._a, buffer, ctypes.byref(week_day), self._m),
              "DoorShowTime", self._who)
        shown = read_text(buffer)
        try:
            stamp = datetime.strptime(shown, "%y-%m-%d %H:%M:%S")
            stamp = stamp.replace(year=complete_year(int(shown[:2])))
        except ValueError:
            raise DoorlinkError("DoorShowTime", self._who,
                                f"the controller's clock reads {shown!r}, not a date and time") from None
        return ClockReading(stamp, week_day.value)

    # ---- doors and states ------------------------------------------------

    def open_door(self, door: int, extra: Optional[int] = None) -> None:
        """Force the actuation of door 0 to 3, optionally with an extra
        request byte."""
        lib = _native.library()
        if extra is None:
            check(lib.DoorCompelOpenOrClose(self._a, door, self._m), "DoorCompelOpenOrClose",
                  self._who, f"door {door}")
        else:
            check(lib.MulDoorCompelOpenOrClose(self._a, door, extra, self._m),
                  "MulDoorCompelOpenOrClose", self._who, f"door {door}, extra byte {extra}")

    def initialise(self) -> None:
        """Send the controller its initialisation command."""
        check(_native.library().DoorInit(self._a, self._m), "DoorInit", self._who)

    def current_state(self, extra: Optional[int] = None) -> int:
        """The current state value, 0 to 3."""
        state = ctypes.c_uint32()
        lib = _native.library()
        if extra is None:
            check(lib.DoorCurState(self._a, self._m, ctypes.byref(state)), "DoorCurState", self._who)
        else:
            check(lib.MulDoorCurState(self._a, self._m, ctypes.byref(state), extra),
                  "MulDoorCurState", self._who, f"extra byte {extra}")
        return state.value

    def state_reply(self, selector: int) -> bytes:
        """The raw state reply of selector 0 to 3: 14 bytes for selector 1,
        else 10."""
        reply = _native.library().DoorState(self._a, selector, self._m)
        if not reply:
            raise DoorlinkError("DoorState", self._who, f"selector {selector}")
        return ctypes.string_at(reply, 14 if selector == 1 else 10)

    def record_and_direction(self) -> Tuple[int, int]:
        """The record and direction values (16 bits each), uninterpreted."""
        rec, direction = ctypes.c_uint32(), ctypes.c_uint32()
        check(_native.library().DoorRecAndDir(self._a, ctypes.byref(rec), ctypes.byref(direction),
                                              self._m), "DoorRecAndDir", self._who)
        return rec.value, direction.value

    # ---- lock and button times, modes, rest days ------------------------

    def set_lock_and_button_times(self, lock: TimeItems, button: TimeItems, *, long: bool = False,
                                  extra: Optional[int] = None) -> None:
        """Store the lock and button time lists.

        Short items (up to 8 each) are ``"hhmm"`` texts or :class:`datetime.time`
        values; long items (``long=True``, up to 4 each) are ``"hhmm-hhmm-nn"``.
        A text is sent as it stands.  ``extra`` sends the variant with an
        extra request byte (short items only).
        """
        lib = _native.library()
        lock_text, button_text = _time_items(lock, long), _time_items(button, long)
        if long and extra is not None:
            raise ValueError("the long time items have no variant with an extra byte")
        if long:
            check(lib.DoorLockAndButtonTime3(self._a, lock_text, button_text, self._m),
                  "DoorLockAndButtonTime3", self._who)
        elif extra is None:
            check(lib.DoorLockAndButtonTime(self._a, lock_text, button_text, self._m),
                  "DoorLockAndButtonTime", self._who)
        else:
            check(lib.MulDoorLockAndButtonTime(self._a, lock_text, button_text, extra, self._m),
                  "MulDoorLockAndButtonTime", self._who, f"extra byte {extra}")

    def set_modes(self, modes: Sequence[int], extra: Optional[int] = None) -> None:
        """Store the controller's three mode bytes."""
        data = bytes(modes)
        if len(data) != 3:
            raise ValueError("a controller has three mode bytes")
        lib = _native.library()
        if extra is None:
            check(lib.SetMode(bytes_of(data), self._a, self._m), "SetMode", self._who)
        else:
            check(lib.MulSetMode(bytes_of(data), extra, self._a, self._m), "MulSetMode", self._who,
                  f"extra byte {extra}")

    def set_rest_days(self, week: Union[str, Sequence[bool]], days: Sequence[Union[date, str]] = ()) -> None:
        """Store the week pattern (7 days from Sunday, true or ``'1'`` for a
        rest day) and up to 20 rest days (dates, or ``"mmdd"`` texts)."""
        pattern = week if isinstance(week, str) else "".join("1" if d else "0" for d in week)
        listed = ",".join(d if isinstance(d, str) else d.strftime("%m%d") for d in days)
        check(_native.library().DoorRestDay(self._a, text(pattern), text(listed), self._m),
              "DoorRestDay", self._who)

    # ---- monitoring, photo test, flags -----------------------------------

    def monitor(self, controller_number: int = 1, *, extra: Optional[int] = None,
                return_address: bool = False) -> "monitoring":
        """A context manager that asks the controller to report to this host
        and yields a :class:`~doorlink.Monitor` on the monitoring socket; the
        socket is closed when the block is left.

        ``return_address=True`` tells the controller this host's address
        and port instead (the return-address request, which needs the MAC);
        ``extra`` sends the monitoring request with an extra byte.
        ``controller_number`` names the error log file of the reports.
        """
        lib = _native.library()
        handle = ctypes.c_uint32()
        if return_address:
            check(lib.DoorTransIP(self._a, ctypes.byref(handle), self._m), "DoorTransIP", self._who)
        elif extra is None:
            check(lib.DoorScout(self._a, ctypes.byref(handle)), "DoorScout", self.address)
        else:
            check(lib.DoorScout1(self._a, extra, ctypes.byref(handle)), "DoorScout1", self.address,
                  f"extra byte {extra}")
        return monitoring(Monitor(handle.value, self.address, controller_number))

    def photo_test(self) -> None:
        """Ask the controller to take a test photo."""
        check(_native.library().PhotoTest(self._a), "PhotoTest", self.address)

    def flag_card(self, card: str, kind: int = 1) -> None:
        """Send the flag of kind 1 (any other kind: the other flag) for the
        card text ``"sssnnnnn"``; raises unless the controller confirms it."""
        check(_native.library().DoorFlag(self._a, kind, text(card), self._m), "DoorFlag", self._who,
              f"card {card}")

    # ---- network settings and MAC ----------------------------------------

    def set_network(self, settings: NetworkSettings) -> "Controller":
        """Give the controller new network settings and record them in its
        registry entry; returns the controller at its new address."""
        record = settings.record()
        check(_native.library().modifyEqm(bytes_of(record), self._a, self._m), "modifyEqm",
              self._who)
        return Controller(settings.address, self.mac)

    def set_mac(self, new_mac: str) -> str:
        """Give the controller a new MAC; returns the MAC it then reports."""
        try:
            mac = bytes.fromhex(new_mac)
        except ValueError:
            mac = b""
        if len(mac) != 6 or len(new_mac) != 12:
            raise ValueError("a MAC is 12 hexadecimal digits without separators")
        reported = ctypes.create_string_buffer(16)
        check(_native.library().SetMacAddr(self._a, bytes_of(mac), reported), "SetMacAddr",
              self.address, f"new MAC {new_mac}")
        return read_text(reported)

    def set_mac_with_serial(self, new_mac: str) -> str:
        """Give the controller the MAC of a MAC text; returns that MAC's
        serial number text."""
        first = ctypes.create_string_buffer(text(new_mac), 16)
        serial = ctypes.create_string_buffer(16)
        check(_native.library().MacInfo(self._a, 2, first, serial), "MacInfo", self.address,
              f"new MAC {new_mac}")
        return read_text(serial)

    def read_mac(self) -> str:
        """Ask the controller for its MAC."""
        found = ctypes.create_string_buffer(16)
        asked = ctypes.create_string_buffer(self._m, 16)
        check(_native.library().MacInfo(self._a, 3, found, asked), "MacInfo", self._who)
        return read_text(found)

    # ---- card lists --------------------------------------------------------

    def download_cards(self, list_number: int, count: Optional[int] = None, *, long: bool = False) -> int:
        """Send a card list file (short records, or long with ``long=True``)
        to the controller: its first ``count`` records, by default all.
        Returns the number of records sent."""
        if count is None:
            size = _list_file("doorname%03d.dat", list_number).stat().st_size
            count = size // (360 if long else 300)
        export = "DoorDownName1" if long else "DoorDownName"
        check(getattr(_native.library(), export)(self._a, count, list_number, self._m), export,
              self._who, f"list {list_number}, {count} records")
        return count

    def read_back_cards(self, list_number: int) -> Path:
        """Read every card record the controller holds into the read-back
        card file of ``list_number``; returns its path."""
        check(_native.library().LookDoorName(self._a, list_number, self._m), "LookDoorName",
              self._who, f"list {list_number}")
        return _list_file("ReCardInfo%03d.dat", list_number)

    # ---- framed commands ---------------------------------------------------

    def framed_command(self, command: int, payload: bytes = b"", *, node: int = 1,
                       station: bytes = b"\x00\x01") -> Tuple[int, bytes]:
        """Send a command byte and up to 1002 payload bytes in a command frame
        to the link object ``node`` at the 2-byte ``station``; returns the
        answer's command byte and payload."""
        if len(station) != 2 or len(payload) > 1002:
            raise ValueError("a station is 2 bytes and a payload at most 1002")
        block = bytes((command & 0xFF, len(payload) >> 8, len(payload) & 0xFF)) + payload
        answer = (ctypes.c_uint8 * (3 + 1024))()
        check(_native.library().SysComInter(self._a, node, 0, 0, bytes_of(station), bytes_of(block),
                                            answer),
              "SysComInter", self.address, f"node {node}, command {command:#04x}")
        length = answer[1] << 8 | answer[2]
        return answer[0], bytes(answer[3:3 + min(length, 1024)])

    # ---- records ---------------------------------------------------------

    def fetch_records(self, controller_number: int = 1, *, photos: bool = True) -> Retrieval:
        """Fetch the controller's stored access records, with their photos
        or (``photos=False``) without, into the record files named after
        ``controller_number``; returns how the retrieval ended and the
        records it added."""
        home = _native.library().home
        record_file = home / f"mj{controller_number:03d}.txt"
        before = record_file.stat().st_size if record_file.exists() else 0
        export = "DataRtn" if photos else "TxDataRtn"
        result = getattr(_native.library(), export)(self._a, controller_number, self._m)
        if result == 0:
            raise DoorlinkError(export, self._who, f"controller number {controller_number}")
        outcome: Union[RetrievalResult, TransferResult] = (
            RetrievalResult(result) if photos else TransferResult(result))
        added = ""
        if record_file.exists():
            with open(record_file, "rb") as f:
                f.seek(before)
                added = f.read().decode("latin-1")
        records = tuple(_records(added, home / "pic" if photos else None))
        return Retrieval(outcome, records, record_file)


def _records(lines: str, pictures: Optional[Path]) -> Iterator[AccessRecord]:
    for line in lines.splitlines():
        fields = line.strip().split(",")
        if len(fields) != 4:
            continue
        card, stamp, number, kind = fields
        try:
            when = datetime.strptime(stamp, "%Y%m%d%H%M%S")
        except ValueError:
            continue
        found: List[Path] = []
        if pictures is not None:
            found = sorted((pictures / card).glob(f"{card}{stamp}{number}*.jpg"))
        yield AccessRecord(card, when, int(number), int(kind), tuple(found))
