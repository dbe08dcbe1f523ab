"""The one exception the package raises for a failed call."""

from __future__ import annotations

from typing import Optional


class DoorlinkError(Exception):
    """An export reported failure.

    The library's exports say only that they failed, not why: no answer
    within their waits, a controller that refused, an invalid argument or a
    file that could not be written.  The exception names the export and the
    controller (its address, and its MAC where the call carries one).

    Attributes:
        export: the name of the export that failed, such as ``"DoorSetTime"``.
        controller: ``"address"`` or ``"address (mac)"``, or None for calls
            that concern no controller.
        detail: what was asked, where that helps.
    """

    def __init__(self, export: str, controller: Optional[str], detail: str = "") -> None:
        self.export = export
        self.controller = controller
        self.detail = detail
        message = f"{export} failed"
        if controller:
            message += f" for controller {controller}"
        if detail:
            message += f": {detail}"
        super().__init__(message)
