"""Two instances with data directories of their own on one PostgreSQL
database: never two drivers of one controller, every record stored once, a
killed instance's controllers taken over after its leases expire and its
journal imported when it starts again."""
import time
from pathlib import Path

from conftest import Service, postgres_database


def stored(service):
    records = [(r["controller"], r["card"], r["time"]) for r in service.run("records")["records"]]
    assert len(records) == len(set(records)), "a record is stored twice"
    return set(records)


def finish(service, lease, timeout=120):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        code, result = service.run("--lease-seconds", lease, "archive", expect=None)
        if code == 0:
            return result
        assert code == 5, result
        time.sleep(0.5)
    raise AssertionError("the controllers stayed busy")


def test_two_instances_archive_twenty_controllers_at_once(simulator, tmp_path):
    db = postgres_database()
    a, b = Service(db, tmp_path / "a"), Service(db, tmp_path / "b")
    a.run("init")
    a.add_controllers(simulator(20, "--records", 30, "--consume-records"))
    runs = [a.start("archive"), b.start("archive")]
    for run in runs:
        run.wait(timeout=300)
        assert run.returncode in (0, 5), run.stderr.read()
    finish(a, 30)
    assert len(stored(a)) == 20 * 30


def test_a_killed_instance_loses_nothing(simulator, tmp_path):
    db = postgres_database()
    a, b = Service(db, tmp_path / "a"), Service(db, tmp_path / "b")
    a.run("init")
    # Slow answers, so that the kill lands in the middle of retrievals.
    a.add_controllers(simulator(20, "--records", 30, "--consume-records", "--delay", 10))
    killed = a.start("--lease-seconds", 5, "archive")
    time.sleep(2.5)
    killed.kill()
    killed.wait()
    journal = [p for p in Path(tmp_path / "a" / "cardinfo").glob("*.txt") if p.read_text()]
    assert journal, "the kill came before any record reached the journal"

    code, result = b.run("--lease-seconds", 5, "archive", expect=None)
    assert code == 5 and "busy" in {c["status"] for c in result["controllers"]}
    finish(b, 5)
    restarted = a.run("archive")
    assert restarted["journal"]["records"] > 0
    assert not [p for p in Path(tmp_path / "a" / "cardinfo").glob("*.txt")]
    assert len(stored(a)) == 20 * 30
