"""A read-only view of the device registry file, ``eqminfo.ini``.

Discovery records every controller that answers in the registry, a change of
network settings updates its entry, and long transfers publish their
progress there.  This module only reads the file; the library writes it.
"""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path
from typing import Dict, Iterator, Optional, Sequence, Tuple, Union

from . import _native

def read_ini(path: Union[str, Path]) -> Dict[str, Dict[str, str]]:
    """The sections and keys of an INI file, names lower-cased (they match
    without regard to case); the first of duplicate keys wins, as the
    library's own reader has it.  A missing file reads as empty."""
    sections: Dict[str, Dict[str, str]] = {}
    try:
        lines = Path(path).read_bytes().decode("latin-1").splitlines()
    except FileNotFoundError:
        return sections
    section = ""
    for raw in lines:
        line = raw.strip()
        if len(line) > 1 and line[0] == "[" and line[-1] == "]":
            section = line[1:-1].strip().lower()
        elif "=" in line:
            key, value = line.split("=", 1)
            sections.setdefault(section, {}).setdefault(key.strip().lower(), value.strip())
    return sections


def _int(text: Optional[str]) -> Optional[int]:
    """The leading decimal number of a value, as the profile functions read
    it; None for an absent or non-numeric value."""
    if text is None:
        return None
    digits = ""
    for i, c in enumerate(text):
        if c.isdigit() or (i == 0 and c in "+-"):
            digits += c
        else:
            break
    try:
        return int(digits)
    except ValueError:
        return None


@dataclass(frozen=True)
class RegistryEntry:
    """One controller as the registry records it."""

    index: int  #: entry index, from 1
    address: str  #: dotted IPv4 address; identifies the entry
    device_number: Optional[int]  #: 1 to 255 as the controller reported it
    mask: str  #: subnet mask
    gateway: str  #: gateway address
    time_value: Optional[int]  #: the controller's time value
    image_mode: Optional[int]  #: 1, 2 or 3


class Registry:
    """A snapshot of the registry file, read when the view is made.

    Iterating yields the entries 1 to ``EqmTotal`` in order; ``len()`` is
    their number.  Make a new view to see later changes.
    """

    def __init__(self, path: Optional[Union[str, Path]] = None) -> None:
        self.path = Path(path) if path is not None else _native.library().home / "eqminfo.ini"
        self._ini = read_ini(self.path)
        total = _int(self.value("EqmTotal", "EqmTotal")) or 0
        self._entries: Tuple[RegistryEntry, ...] = tuple(
            self._entry(i) for i in range(1, max(total, 0) + 1))

    def value(self, section: str, key: str) -> Optional[str]:
        """A raw value, or None when the key is absent."""
        return self._ini.get(section.lower(), {}).get(key.lower())

    def _entry(self, i: int) -> RegistryEntry:
        return RegistryEntry(
            index=i,
            address=self.value("EqmIP", f"EqmIP{i}") or "",
            device_number=_int(self.value("EqmNO", f"EqmNo{i}")),
            mask=self.value("EqmNet", f"EqmNet{i}") or "",
            gateway=self.value("EqmGate", f"EqmGate{i}") or "",
            time_value=_int(self.value("EqmTime", f"EqmTime{i}")),
            image_mode=_int(self.value("EqmImg", f"EqmImg{i}")),
        )

    @property
    def entries(self) -> Sequence[RegistryEntry]:
        """The entries in index order."""
        return self._entries

    def __iter__(self) -> Iterator[RegistryEntry]:
        return iter(self._entries)

    def __len__(self) -> int:
        return len(self._entries)

    def find(self, address: str) -> Optional[RegistryEntry]:
        """The entry of a controller address, the lowest index where two
        hold it (the one the library updates); None when there is none."""
        return next((e for e in self._entries if e.address == address), None)

    def _progress(self, current: str, total: str, number: int) -> Tuple[Optional[int], Optional[int]]:
        return (_int(self.value(current, f"{current}{number}")),
                _int(self.value(total, f"{total}{number}")))

    def download_progress(self, list_number: int) -> Tuple[Optional[int], Optional[int]]:
        """(records acknowledged, records in the list) of the latest download
        of a card list; None for a key never written."""
        return self._progress("CurNameList", "TolNameList", list_number)

    def readback_progress(self, list_number: int) -> Tuple[Optional[int], Optional[int]]:
        """(records read, records the controller holds) of the latest
        read-back into a list number."""
        return self._progress("ReCurNameList", "ReTolNameList", list_number)

    def retrieval_progress(self, controller_number: int) -> Tuple[Optional[int], Optional[int]]:
        """(reached, total) of the latest record retrieval of a controller
        number: images with photos, records without."""
        return self._progress("CurrentImg", "TotalImg", controller_number)


def registry(path: Optional[Union[str, Path]] = None) -> Registry:
    """The registry as it is now: by default the library's ``eqminfo.ini``."""
    return Registry(path)
