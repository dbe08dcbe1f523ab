"""doorlinkd archive end to end: killed with SIGKILL at random moments, then
run to the end, it stores every record once and every photo byte for byte
as a clean run does; on both databases."""
import hashlib
import random
import sqlite3
import time

from conftest import Service

RECORDS = 60
LEASE = 2


def stored(service):
    return sorted((r["controller"], r["card"], r["time"], r["photo"]["sha256"] if r["photo"] else None)
                  for r in service.run("records")["records"])


def archive_to_the_end(service, timeout=180):
    """Archives until every controller is done and a run stores nothing new."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        code, result = service.run("--lease-seconds", LEASE, "archive", expect=None)
        if code == 5:  # leases of a killed run, not yet expired
            time.sleep(0.5)
            continue
        assert code == 0, result
        if all(c["records"] == 0 for c in result["controllers"]):
            return
    raise AssertionError("archive did not come to an end")


def test_archive_killed_at_twenty_random_moments_stores_everything_once(service, simulator, tmp_path):
    sim_args = ("--records", RECORDS, "--records-time", int(time.time()) - 86400, "--consume-records")
    clean = Service(f"sqlite:{tmp_path}/clean.db", tmp_path / "clean-data")
    clean.run("init")
    clean.add_controllers(simulator(3, *sim_args))
    archive_to_the_end(clean)
    reference = stored(clean)
    assert len(reference) == 3 * RECORDS and all(r[3] for r in reference)
    last = clean.run("archive")
    with sqlite3.connect(tmp_path / "clean.db") as db:  # each result stored with the run it printed
        assert sorted(db.execute("SELECT controller, status FROM archive_results WHERE run = ?",
                                 (last["run"],))) == sorted((c["name"], "done") for c in last["controllers"])

    service.add_controllers(simulator(3, *sim_args))
    for _ in range(20):
        run = service.start("--lease-seconds", LEASE, "archive")
        time.sleep(random.uniform(0.05, 1.2))
        run.kill()
        run.wait()
        time.sleep(LEASE + 0.1)  # its leases expire
    archive_to_the_end(service)

    assert stored(service) == reference
    for sha in {r[3] for r in reference}:
        mine, theirs = tmp_path / "mine.jpg", tmp_path / "theirs.jpg"
        service.run("photo", "get", sha, mine)
        clean.run("photo", "get", sha, theirs)
        assert mine.read_bytes() == theirs.read_bytes()
        assert hashlib.sha256(mine.read_bytes()).hexdigest() == sha
