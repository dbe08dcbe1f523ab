"""The policy's clock: doorlinkd compiles a controller's cards for the
process's own clock (shown with faketime, whose preloaded library moves it),
and serve syncs a site's controllers at the site's local midnight (shown
with the tests' clock, DOORLINKD_TEST_NOW, a few seconds before it)."""
import datetime
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import DOORLINKD, Service
from serve_process import Serve

HOLIDAY = "2026-12-24"  # a Thursday
CARD = "00100001"


def unpacked_doorlinkd(packages, root):
    """The doorlinkd of make package's Debian packages, unpacked into root
    with its library: (program, library directory), or None and why not."""
    if not packages or not shutil.which("dpkg-deb"):
        return None, "no packages of make package (DOORLINK_PACKAGE_DIR), or no dpkg-deb"
    debs = [sorted(Path(packages).glob(pattern)) for pattern in ("libdoorlink[0-9]*_*.deb", "doorlinkd_*.deb")]
    if any(len(found) != 1 for found in debs):
        return None, f"not one library package and one doorlinkd package in {packages}"
    for found in debs:
        subprocess.run(["dpkg-deb", "-x", str(found[0]), str(root)], check=True)
    library = next(root.rglob("libdoorlink.so.*"))
    return root / "usr" / "bin" / "doorlinkd", library.parent


def unsanitized_doorlinkd(tmp_path):
    """A doorlinkd without sanitizers, whose clock a preloaded library can
    move: this build's, else the packaged one. (program, library directory
    or None, packaged); skips, saying why, when there is none."""
    if os.environ.get("DOORLINKD_SANITIZED", "0") in ("0", ""):
        return DOORLINKD, None, False
    program, libraries = unpacked_doorlinkd(os.environ.get("DOORLINK_PACKAGE_DIR", ""), tmp_path / "root")
    if program is None:
        pytest.skip("this build's doorlinkd has sanitizers, which a preloaded library does not mix with, "
                    "and " + libraries)
    return str(program), str(libraries), True


class Program(Service):
    """conftest's Service, run with another doorlinkd program."""

    def __init__(self, program, db, data_dir):
        super().__init__(db, data_dir)
        self.program = program
        self.prefix = []

    def command(self, *args):
        return [*self.prefix, self.program, *super().command(*args)[1:]]


def test_compile_follows_the_process_clock(database, tmp_path, monkeypatch):
    """On PostgreSQL too, whose server's clock faketime does not move."""
    if not shutil.which("faketime"):
        pytest.skip("faketime is not installed (scripts/install-deps.sh installs it)")
    program, libraries, packaged = unsanitized_doorlinkd(tmp_path)
    monkeypatch.setenv("TZ", "UTC")  # faketime's times are read in it
    monkeypatch.delenv("DOORLINKD_TEST_NOW", raising=False)
    if libraries:
        monkeypatch.setenv("LD_LIBRARY_PATH", libraries)
    fleet = Program(program, database, tmp_path / "data")
    fleet.run("init")
    fleet.run("site", "add", "tokyo", "--zone", "Asia/Tokyo")
    fleet.run("controller", "add", "door", "127.0.0.1", "00a0c9000001", "--site", "tokyo")
    fleet.run("schedule", "add", "office", "--every-day", "07:00-19:00", "--holidays", "closed")
    fleet.run("holiday", "add", "tokyo", HOLIDAY)
    fleet.run("group", "add", "staff", "--grant", "office@site:tokyo")
    fleet.run("person", "add", "e1", "--name", "Ann", "--groups", "staff", "--cards", CARD + ":000001:111111")

    def thursday(*prefix):
        fleet.prefix = list(prefix)
        cards = {c["card"]: c for c in fleet.run("compile", "door")["cards"]}
        return cards[CARD]["thursday"]

    # Noon UTC is 21:00 in Tokyo: the holiday's Thursday is closed, any
    # other Thursday open.
    assert thursday("faketime", f"{HOLIDAY} 12:00:00") == ""
    assert thursday("faketime", "2026-12-31 12:00:00") == "0700-1900-01;"
    assert thursday() == "0700-1900-01;"  # the host's clock: the holiday is weeks or years away
    if packaged:
        # A release build ignores the tests' clock.
        monkeypatch.setenv("DOORLINKD_TEST_NOW", f"{HOLIDAY}T12:00:00+09:00")
        assert thursday() == "0700-1900-01;"


KATHMANDU_MIDNIGHT = "2026-12-25T00:00:00+05:45"  # Berlin's 19:15 of the 24th


def instant_ms(text):
    return round(datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp() * 1000)


def test_serve_syncs_a_sites_controllers_at_its_local_midnight(tmp_path, simulator, capsys, monkeypatch):
    """Seconds before Kathmandu's midnight by the tests' clock, serve starts
    (and syncs both controllers); at the midnight it syncs Kathmandu's
    controller alone, whose 250 cards lose the one of the person valid until
    the day that ended. Prints the window from the midnight to that result
    stored."""
    fleet = Service(f"sqlite:{tmp_path}/fleet.db", tmp_path / "data")
    token = fleet.run("init")["admin_token"]
    (berlin_address, berlin_mac), (kathmandu_address, kathmandu_mac) = simulator(2).controllers
    fleet.run("site", "set", "main", "--zone", "Europe/Berlin")
    fleet.run("site", "add", "kathmandu", "--zone", "Asia/Kathmandu")
    fleet.run("controller", "add", "berlin-door", berlin_address, berlin_mac, "--site", "main")
    fleet.run("controller", "add", "kathmandu-door", kathmandu_address, kathmandu_mac, "--site", "kathmandu")

    fleet.run("schedule", "add", "office", "--every-day", "07:00-19:00")
    fleet.run("group", "add", "staff", "--grant", "office@site:kathmandu")
    (tmp_path / "people.csv").write_text(
        "id,name,email,active,valid_from,valid_until,groups,cards\n" +
        "".join(f"e{i:03d},Person {i},,true,,{'2026-12-24' if i == 0 else ''},staff,003{i:05d}:{i:06d}:123456\n"
                for i in range(250)))
    fleet.run("person", "import", tmp_path / "people.csv")

    midnight = instant_ms(KATHMANDU_MIDNIGHT)
    now = datetime.datetime.fromtimestamp((midnight - 3000) / 1000, datetime.timezone.utc)
    monkeypatch.setenv("DOORLINKD_TEST_NOW", now.isoformat())
    applied = fleet.run("apply", "--now")["run"]
    server = Serve(fleet, "--lease-seconds", 2, "--sync-every", 60, "--archive-every", 0, token=token,
                   env={"DOORLINKD_TEST_NOW": now.isoformat()})
    try:
        def runs():
            made = server.json("GET", "/api/v1/sync/runs")["runs"]
            return sorted((run for run in made if run["id"] > applied), key=lambda run: run["id"])

        def kathmandu_results():
            """Its sync events, each told once its result is stored."""
            events = server.json("GET", "/api/v1/events?kind=sync")["events"]
            return sorted((e for e in events if e["controller"] == "kathmandu-door" and e["run"] > applied),
                          key=lambda e: e["run"])

        deadline = time.monotonic() + 30
        while len(kathmandu_results()) < 2 and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(1)  # nothing more comes
        told, made = kathmandu_results(), runs()
        assert len(told) == 2 and len(made) == 2, (told, made)
        started, stored = told
        assert [(run["id"], run["controllers"]) for run in made] == [(started["run"], 2), (stored["run"], 1)], made
        results = server.json("GET", f"/api/v1/sync/runs/{stored['run']}")["results"]
        assert [(r["name"], r["status"], r["cards"]) for r in results] == [("kathmandu-door", "repaired", 249)]
        assert server.stop() < 5
        errors = server.process.stderr.read()
    finally:
        server.kill()
    # The midnight by the host's clock, as serve's clock ran from it.
    ahead = int(re.search(r"DOORLINKD_TEST_NOW=\S+: the policy's clock is the host's plus (-?\d+) ms",
                          errors)[1])
    window = (instant_ms(stored["at"]) - (midnight - ahead)) / 1000
    with capsys.disabled():  # in ctest's output too
        print(f"\nfrom Kathmandu's midnight to the result stored: {window:.3f} s")
    assert 0 <= window < 20, window
