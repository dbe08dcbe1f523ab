"""Each controller's clock keeps its own site's zone: on a host kept in UTC,
serve sets the off clocks of controllers at two sites each to the local time
of its site's zone, whatever zone serve itself is told or runs in."""
import datetime
import time
import zoneinfo

import pytest

from serve_process import Serve

SITES = {"berlin": "Europe/Berlin", "kolkata": "Asia/Kolkata"}


@pytest.mark.parametrize("database", ["sqlite"], indirect=True)
def test_serve_sets_each_clock_to_its_sites_local_time(service, simulator, monkeypatch):
    monkeypatch.setenv("TZ", "UTC")  # the host's zone, for doorsim and serve alike
    sim = simulator(2, "--control")
    for i, (site, zone) in enumerate(SITES.items()):
        service.run("site", "add", site, "--zone", zone)
        address, mac = sim.controllers[i]
        service.run("controller", "add", site + "-door", address, mac, "--site", site)
        # An hour off the host's UTC, either way: off both zones.
        assert sim.control(f"clock {i + 1} {3600 * (2 * i - 1)}")
    # serve's --time-zone is no longer a zone of the clocks: only the site main's, which it is not.
    other = "Pacific/Kiritimati"
    server = Serve(service, "--time-zone", other, "--monitor-every", 1, "--max-skew", 60, "--sync-every", 0,
                   "--archive-every", 0, token=service.admin_token)
    try:
        def off_by(site):
            """Seconds the site's controller's clock is off its zone's local time."""
            clock = server.json("GET", f"/api/v1/controllers/{site}-door")["clock"]
            if not clock:
                return None
            shown = datetime.datetime.strptime(clock, "%y-%m-%d %H:%M:%S")
            local = datetime.datetime.now(zoneinfo.ZoneInfo(SITES[site])).replace(tzinfo=None)
            return abs((shown - local).total_seconds())

        deadline = time.monotonic() + 30
        off = {site: off_by(site) for site in SITES}
        while any(o is None or o > 60 for o in off.values()) and time.monotonic() < deadline:
            time.sleep(0.5)
            off = {site: off_by(site) for site in SITES}
        assert all(o is not None and o <= 60 for o in off.values()), off
        audit = [a for a in server.json("GET", "/api/v1/audit")["audit"] if a["action"] == "clock set"]
        assert sorted((a["target"], a["result"]) for a in audit) == [("berlin-door", "ok"),
                                                                     ("kolkata-door", "ok")]
        assert server.stop() < 5
        told = server.process.stderr.read()
        assert told.count(f"site set main --zone {other}") == 1, told
    finally:
        server.kill()
