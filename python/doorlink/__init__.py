"""doorlink for Python: networked door access controllers over UDP.

A thin layer over the shared library ``libdoorlink`` (``doorlink.dll`` on
Windows), loaded on first use from ``DOORLINK_LIBRARY``, from beside this
package or from the system's library path.  The library keeps its files
(the device registry ``eqminfo.ini``, card lists, records, photos) under
``DOORLINK_HOME``, else beside the host executable: set ``DOORLINK_HOME``
before the first call.

    import doorlink
    door = doorlink.Controller("192.168.1.20", "00a0c9000001")
    print(door.read_clock().time)
    door.open_door(1)

Every failed call raises :class:`DoorlinkError`.  The raw exports, with
their ctypes prototypes set, are the attributes of :func:`library`.
"""

from pathlib import Path

from ._errors import DoorlinkError
from ._native import PROTOTYPES, Library, library
from .controller import (AccessRecord, ClockReading, Controller, NetworkSettings, Retrieval,
                         RetrievalResult, TransferResult)
from .functions import (CardRead, card_record, convert_card_list, discover, list_file, ping,
                        read_back_to_ini, read_card, serial_number, set_adaptive_wait, set_port_range,
                        write_card)
from .monitor import ErrorReport, Event, Monitor, Photo
from .registry import Registry, RegistryEntry, registry
from ._version import version as _version

__version__ = _version()


def home() -> Path:
    """The directory the library keeps its files under."""
    return library().home

__all__ = [
    "AccessRecord", "CardRead", "ClockReading", "Controller", "DoorlinkError", "ErrorReport",
    "Event", "Library", "Monitor", "NetworkSettings", "PROTOTYPES", "Photo", "Registry",
    "RegistryEntry", "Retrieval", "RetrievalResult", "TransferResult", "card_record",
    "convert_card_list", "discover", "home", "library", "list_file", "ping", "read_back_to_ini",
    "read_card", "registry", "serial_number", "set_adaptive_wait", "set_port_range", "write_card",
]
