"""A PostgreSQL server that stops in the middle of a sync: doorlinkd exits 3
with a message that names the database, and once the server is back a sync
finishes the work."""
import json
import subprocess
import time

from conftest import POSTGRES_SCRIPT, Service, card_row, write_cards
from serve_process import Serve


def postgres(*args):
    return subprocess.run([str(POSTGRES_SCRIPT), *map(str, args)], check=True, capture_output=True,
                          text=True).stdout.strip().splitlines()


def test_postgresql_stopped_mid_sync(simulator, tmp_path):
    cluster = tmp_path / "pg"
    postgres("start", cluster)
    try:
        service = Service(postgres("createdb", cluster, "fleet")[-1], tmp_path / "data")
        service.run("init")
        # Slow answers, so that the server stops while lists go out.
        names = service.add_controllers(simulator(2, "--delay", 5))
        write_cards(tmp_path / "cards.csv", [card_row(n) for n in range(300)])
        service.run("card", "import", tmp_path / "cards.csv")

        run = service.start("--lease-seconds", 2, "sync")
        time.sleep(1.5)
        postgres("pause", cluster)
        out, err = run.communicate(timeout=120)
        assert run.returncode == 3, (out, err)
        assert "PostgreSQL" in out, out

        postgres("resume", cluster)
        time.sleep(2.1)  # the leases of the stopped run expire
        done = service.run("--lease-seconds", 2, "sync")
        assert {c["name"]: c["cards"] for c in done["controllers"]} == {n: 300 for n in names}
        assert {c["status"] for c in done["controllers"]} <= {"repaired", "in_step"}
        checked = service.run("sync", "--check")
        assert {c["status"] for c in checked["controllers"]} == {"in_step"}
    finally:
        postgres("stop", cluster)


def test_health_says_only_that_the_database_does_not_answer(tmp_path):
    # /health needs no token: what the database says of itself (its host,
    # user and name) goes to the log, never to the caller.
    cluster = tmp_path / "pg"
    postgres("start", cluster)
    try:
        service = Service(postgres("createdb", cluster, "fleet_secret_name")[-1], tmp_path / "data")
        service.run("init")
        serve = Serve(service, "--sync-every", 0, "--archive-every", 0)
        try:
            assert serve.request("GET", "/health", token="")[0] == 200
            postgres("stop", cluster)
            status, _, body = serve.request("GET", "/health", token="")
            assert status == 503
            assert json.loads(body) == {"error": "the database does not answer"}
            serve.stop()
            assert "GET /health: " in serve.process.stderr.read()  # the detail is logged
        finally:
            serve.kill()
    finally:
        postgres("stop", cluster)
