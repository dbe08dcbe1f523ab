"""serve --time-zone: on a host kept in UTC, serve told another zone sets an
off controller clock to that zone's local time, not to the host's."""
import datetime
import time
import zoneinfo

import pytest

from serve_process import Serve

ZONE = "Pacific/Kiritimati"  # UTC+14: as far from the host's UTC as a zone gets


@pytest.mark.parametrize("database", ["sqlite"], indirect=True)
def test_an_off_clock_is_set_to_the_local_time_of_the_zone_serve_is_told(service, simulator, monkeypatch):
    monkeypatch.setenv("TZ", "UTC")  # the host's zone, for doorsim and serve alike
    sim = simulator(1, "--control")
    service.add_controllers(sim)
    assert sim.control("clock 1 3600")  # an hour ahead of the host's local time
    server = Serve(service, "--time-zone", ZONE, "--monitor-every", 1, "--max-skew", 60, "--sync-every", 0,
                   "--archive-every", 0, token=service.admin_token)
    try:
        def off_by():
            """Seconds the controller's clock is off the zone's local time."""
            clock = server.json("GET", "/api/v1/controllers/door1")["clock"]
            if not clock:
                return None
            shown = datetime.datetime.strptime(clock, "%y-%m-%d %H:%M:%S")
            local = datetime.datetime.now(zoneinfo.ZoneInfo(ZONE)).replace(tzinfo=None)
            return abs((shown - local).total_seconds())

        deadline = time.monotonic() + 30
        off = off_by()
        while (off is None or off > 60) and time.monotonic() < deadline:
            time.sleep(0.5)
            off = off_by()
        assert off is not None and off <= 60, "the controller's clock is %s s off %s" % (off, ZONE)
        audit = [a for a in server.json("GET", "/api/v1/audit")["audit"] if a["action"] == "clock set"]
        assert [(a["target"], a["result"]) for a in audit] == [("door1", "ok")]
        assert server.stop() < 5
    finally:
        server.kill()
