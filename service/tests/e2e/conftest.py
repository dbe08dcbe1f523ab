"""Fixtures of doorlinkd's end-to-end tests: doorsim controllers on loopback,
a fresh database of each kind (SQLite, and PostgreSQL in the test run's own
cluster) and a runner for the doorlinkd program."""
import json
import os
import subprocess
import uuid
from pathlib import Path

import pytest

from doorsim_process import Simulator

DOORLINKD = os.environ.get("DOORLINKD", "doorlinkd")
DOORSIM = os.environ.get("DOORSIM", "doorsim")
DOORCTL = os.environ.get("DOORCTL", "doorctl")
POSTGRES_DIR = os.environ.get("DOORLINKD_TEST_POSTGRES", "")
POSTGRES_SCRIPT = Path(__file__).resolve().parent.parent / "scripts" / "postgres.sh"


@pytest.fixture
def simulator():
    started = []

    def start(count, *args):
        sim = Simulator(DOORSIM, count, *args)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


def postgres_database():
    """The URI of a new, empty database in the test run's cluster."""
    if not POSTGRES_DIR:
        pytest.skip("DOORLINKD_TEST_POSTGRES is not set: no PostgreSQL server for this run")
    name = "e2e_" + uuid.uuid4().hex[:12]
    out = subprocess.run([str(POSTGRES_SCRIPT), "createdb", POSTGRES_DIR, name],
                         check=True, capture_output=True, text=True)
    return out.stdout.strip().splitlines()[-1]


@pytest.fixture(params=["sqlite", "postgresql"])
def database(request, tmp_path):
    if request.param == "sqlite":
        return f"sqlite:{tmp_path}/fleet.db"
    return postgres_database()


class Service:
    """Runs doorlinkd with --json on one database and data directory."""

    def __init__(self, db, data_dir):
        self.db = db
        self.data_dir = Path(data_dir)

    def command(self, *args):
        return [DOORLINKD, "--json", "--db", self.db, "--data-dir", str(self.data_dir), *map(str, args)]

    def run(self, *args, expect=0, timeout=300):
        done = subprocess.run(self.command(*args), capture_output=True, text=True, timeout=timeout)
        assert expect is None or done.returncode == expect, (args, done.returncode, done.stdout, done.stderr)
        lines = done.stdout.strip().splitlines()
        assert len(lines) == 1, (args, done.stdout, done.stderr)
        result = json.loads(lines[0])
        return (done.returncode, result) if expect is None else result

    def start(self, *args):
        return subprocess.Popen(self.command(*args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def add_controllers(self, sim, prefix="door", **options):
        names = []
        for i, (address, mac) in enumerate(sim.controllers):
            name = f"{prefix}{i + 1}"
            extra = [f"--{k.replace('_', '-')}" for k, v in options.items() if v is True]
            self.run("controller", "add", name, address, mac, *extra)
            names.append(name)
        return names


@pytest.fixture
def service(database, tmp_path):
    svc = Service(database, tmp_path / "data")
    made = svc.run("init")
    assert made["schema_version"] == 10 and made["admin_token"].startswith("dl_"), made
    svc.admin_token = made["admin_token"]
    return svc


def write_cards(path, rows):
    header = ("card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,"
              "thursday,friday,saturday,extra_cards,controllers")
    Path(path).write_text(header + "\n" + "".join(",".join(map(str, r)) + "\n" for r in rows))


def card_row(n, password="123456", controllers=""):
    """A valid card row: card 001 followed by 10000 + n."""
    return [f"001{10000 + n:05d}", f"{100000 + n:06d}", password, 1, 2,
            "0800-1200-01;", "", "", "", "", "", "", "", controllers]

