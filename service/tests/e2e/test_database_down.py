"""A PostgreSQL server that stops in the middle of a sync: doorlinkd exits 3
with a message that names the database, and once the server is back a sync
finishes the work. A server that goes silent (its processes stopped, the
socket still open) is answered 503 in time, and serve recovers."""
import json
import os
import signal
import subprocess
import threading
import time
from pathlib import Path

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


def server_processes(cluster):
    """The cluster's postmaster and every process it started."""
    server = Path((cluster / "server_dir").read_text().strip())
    postmaster = int((server / "data" / "postmaster.pid").read_text().split()[0])
    children = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path("/proc", entry, "stat").read_text()
        except OSError:
            continue
        if int(stat.rsplit(")", 1)[1].split()[1]) == postmaster:
            children.append(int(entry))
    return [postmaster, *children]


def signal_all(pids, sig):
    for pid in pids:
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            pass


def timed(serve, path, token):
    began = time.monotonic()
    status, _, body = serve.request("GET", path, token=token)
    return status, body, time.monotonic() - began


def test_a_silent_server_is_answered_503_in_time(tmp_path):
    # A cluster of this test's own: it is stopped dead, which would stall
    # every other test on a shared one.
    cluster = tmp_path / "pg"
    postgres("start", cluster)
    stopped = []
    try:
        service = Service(postgres("createdb", cluster, "fleet")[-1], tmp_path / "data")
        token = service.run("init")["admin_token"]
        serve = Serve(service, "--sync-every", 0, "--archive-every", 0, token=token)
        try:
            paths = [("/health", ""), ("/api/v1/controllers", None), ("/api/v1/cards", None),
                     ("/api/v1/me", None)]
            for path, path_token in paths:
                assert timed(serve, path, path_token)[0] == 200, path

            # SIGSTOP: the socket stays open and nothing answers (the
            # postmaster first, so that it starts no process meanwhile).
            stopped = server_processes(cluster)
            signal_all(stopped, signal.SIGSTOP)
            for path, path_token in paths:
                status, body, seconds = timed(serve, path, path_token)
                print(f"silent server: GET {path} -> {status} in {seconds:.2f} s")
                # Authentication reads the token from the database: 503, not 401.
                assert status == 503, (path, status, body)
                assert json.loads(body) == {"error": "the database does not answer"}, body
                assert seconds < 5, (path, seconds)

            signal_all(stopped, signal.SIGCONT)
            stopped = []
            began = time.monotonic()
            while timed(serve, "/health", "")[0] != 200:
                assert time.monotonic() - began < 10, "no 200 within 10 s of the server's return"
                time.sleep(0.2)
            print(f"server back: /health 200 after {time.monotonic() - began:.2f} s")
            for path, path_token in paths:
                assert timed(serve, path, path_token)[0] == 200, path

            # Stopped dead again, with a request waiting on it: serve still
            # stops promptly on SIGTERM.
            stopped = server_processes(cluster)
            signal_all(stopped, signal.SIGSTOP)
            def wait_on_the_database():
                try:
                    timed(serve, "/api/v1/cards", None)
                except OSError:
                    pass  # serve closed the connection as it stopped

            waiting = threading.Thread(target=wait_on_the_database, daemon=True)
            waiting.start()
            time.sleep(0.5)
            seconds = serve.stop(timeout=8)
            print(f"stop with the server silent: {seconds:.2f} s")
            waiting.join(timeout=10)
            assert "the server gave no answer" in serve.process.stderr.read()  # the detail is logged
        finally:
            serve.kill()
    finally:
        signal_all(stopped, signal.SIGCONT)
        postgres("stop", cluster)
