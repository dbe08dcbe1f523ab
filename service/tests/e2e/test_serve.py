"""doorlinkd serve end to end: stopped with SIGTERM in the middle of an
archive and of a sync it ends within 5 seconds, and once started again
nothing is lost; pushed error reports and photos become events with the
photo stored; a controller whose clock is off is set and audited."""
import hashlib
import time

import pytest

from conftest import card_row, write_cards
from serve_process import Serve

LEASE = 2  # seconds: a killed instance's leases are soon free again
_started = []


@pytest.fixture(autouse=True)
def no_serve_outlives_its_test():
    yield
    while _started:
        _started.pop().kill()


def serve(service, *args):
    _started.append(Serve(service, "--lease-seconds", LEASE, *args, token=service.admin_token))
    return _started[-1]


def wait_for(what, probe, timeout=30, until=bool):
    deadline = time.monotonic() + timeout
    found = None
    while time.monotonic() < deadline:
        found = probe()
        if until(found):
            return found
        time.sleep(0.3)
    raise AssertionError("no %s within %s s (last seen: %r)" % (what, timeout, found))


def events(server, kind):
    return server.json("GET", "/api/v1/events?kind=" + kind)["events"]


def archived(service):
    """(records stored, those with their photo). A record cut short by a
    stop may be stored without its photo until the next retrieval brings
    it again."""
    records = service.run("records")["records"]
    assert len({(r["controller"], r["card"], r["time"]) for r in records}) == len(records), "stored twice"
    return len(records), sum(1 for r in records if r["photo"])


def test_sigterm_during_an_archive_ends_soon_and_the_restart_stores_every_record_once(service, simulator):
    records = 1500
    service.add_controllers(simulator(2, "--records", records, "--records-time", int(time.time()) - 86400,
                                    "--consume-records"))
    first = serve(service, "--sync-every", 0)  # an archive at start
    time.sleep(1.0)  # the retrievals of 1500 records with photos take a few seconds
    assert first.stop() < 5
    # What the controllers handed over before the stop is in the journal or
    # the database: the controllers consumed it.
    again = serve(service, "--sync-every", 0)
    # The restart first stores the journal, then retrieves the rest: on a
    # busy machine with the sanitized build this takes well over 30 s.
    wait_for("every record with its photo", lambda: archived(service),
             until=lambda counts: counts == (2 * records, 2 * records), timeout=120)
    assert again.stop() < 5
    assert archived(service) == (2 * records, 2 * records)


def test_sigterm_during_a_sync_ends_soon_and_the_restart_finishes_it(service, simulator, tmp_path):
    # Slow answers: the downloads of 600 cards take seconds.
    service.add_controllers(simulator(2, "--delay", 2))
    write_cards(tmp_path / "cards.csv", [card_row(n) for n in range(600)])
    service.run("card", "import", tmp_path / "cards.csv")
    first = serve(service, "--archive-every", 0)  # a sync at start
    # Stopped while its downloads run: once the run has begun, however busy
    # the machine is.
    cut_run = wait_for("the sync at start", lambda: first.json("GET", "/api/v1/sync/runs")["runs"])[0]["id"]
    time.sleep(0.3)
    assert first.stop() < 5

    # The cut run's results say so: busy, stopping, never in step. One whose
    # export still ran at the stop's deadline has no result at all (the
    # process ends around it), which is what a loaded machine often sees.
    again = serve(service, "--archive-every", 0)
    synced = wait_for("sync after the restart",
                      lambda: [e for e in events(again, "sync") if e["status"] in ("in_step", "repaired")])
    assert synced[0]["run"] > cut_run, synced
    cut = [e for e in events(again, "sync") if e["run"] == cut_run]
    assert all(e["status"] == "busy" and "stopping" in e["message"] for e in cut), cut
    wait_for("both controllers synced",
             lambda: len([e for e in events(again, "sync") if e["run"] == synced[0]["run"]]) == 2)
    assert again.stop() < 5
    checked = service.run("sync", "--check")
    assert [c["status"] for c in checked["controllers"]] == ["in_step", "in_step"]


@pytest.mark.parametrize("database", ["sqlite"], indirect=True)
def test_pushed_reports_and_photos_become_events_and_an_off_clock_is_set(service, simulator):
    sim = simulator(2, "--control")
    service.add_controllers(sim)
    assert sim.control("clock 1 3600")  # door1 an hour ahead
    server = serve(service, "--monitor-every", 1, "--max-skew", 60, "--sync-every", 0, "--archive-every", 0)

    # Pushes reach the service once it armed each controller's monitoring,
    # one after the other: door2's may come a moment after door1's.
    wait_for("door1's monitoring target", lambda: sim.control("error 1 door held open"))
    wait_for("door2's monitoring target", lambda: sim.control("photo 2 1 12345"))
    error = wait_for("error event", lambda: events(server, "error"))
    assert [(e["controller"], e["text"]) for e in error] == [("door1", "door held open")]
    photo = wait_for("photo event", lambda: events(server, "photo"))[0]
    assert (photo["controller"], photo["card"]) == ("door2", "00112345")
    assert photo["path"] == "/api/v1/photos/" + photo["sha256"]
    status, _, jpeg = server.request("GET", photo["path"])
    assert status == 200 and jpeg[:2] == b"\xff\xd8" and jpeg[-2:] == b"\xff\xd9"
    assert hashlib.sha256(jpeg).hexdigest() == photo["sha256"]

    audit = wait_for("clock audit", lambda: [a for a in server.json("GET", "/api/v1/audit")["audit"]
                                             if a["action"] == "clock set"])
    assert [(a["target"], a["result"]) for a in audit] == [("door1", "ok")]
    assert audit[0]["who"].startswith("doorlinkd:") and "3600" in audit[0]["detail"]
    # Told when it was off and when it was back, not at every round; door2
    # once, at the start.
    def status_of(name):
        return [(e["reachable"], abs(e["skew"]) > 60) for e in events(server, "status") if e["controller"] == name]

    wait_for("door1 back in step", lambda: len(status_of("door1")) >= 2)
    time.sleep(2)  # two more rounds
    assert status_of("door1") == [(True, True), (True, False)]
    assert status_of("door2") == [(True, False)]
    assert server.stop() < 5
