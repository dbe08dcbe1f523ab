"""Fixtures of the browser tests: one doorsim fleet, one doorlinkd serve on
a SQLite database with tokens of each role, and one headless Chromium, all
inside the network namespace run_in_netns.sh made."""
import importlib.util
import os
import sys
import tempfile
import time
from pathlib import Path

import pytest

E2E = Path(__file__).resolve().parent.parent / "e2e"
sys.path.insert(0, str(E2E))
from doorsim_process import Simulator  # noqa: E402
from serve_process import Serve  # noqa: E402

from browser import start_browser, stop_browser  # noqa: E402
from page import Page  # noqa: E402

# The end-to-end tests' runner of doorlinkd and their card rows, loaded
# under a name of its own beside this directory's conftest.
_spec = importlib.util.spec_from_file_location("e2e_conftest", E2E / "conftest.py")
e2e = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(e2e)

# With the people's cards, each controller holds its most: 5,000.
CARDS = 4998
CONTROLLERS = 3
# The people of the policy: id, name and card; a group grants them office
# hours on the site main, which every controller belongs to.
PEOPLE = [("e1", "Ada Lindqvist", "00200001"), ("e2", "Ben Okafor", "00200002")]


def only_loopback():
    return sorted(os.listdir("/sys/class/net")) == ["lo"]


@pytest.fixture(scope="session", autouse=True)
def inside_namespace():
    # Chromium runs only where nothing but loopback can be reached.
    if not os.environ.get("DOORLINKD_WEB_NETNS") or not only_loopback():
        pytest.skip("the browser tests run only inside the network namespace of run_in_netns.sh")


class Fleet:
    """doorsim, the database with its tokens, and serve."""

    def __init__(self, directory):
        self.sim = Simulator(e2e.DOORSIM, CONTROLLERS, "--records", 3, "--control")
        try:
            self.start(directory)
        except BaseException:
            self.sim.stop()
            raise

    def start(self, directory):
        self.service = e2e.Service(f"sqlite:{directory}/fleet.db", Path(directory) / "data")
        self.admin = self.service.run("init")["admin_token"]
        self.names = self.service.add_controllers(self.sim)
        self.viewer = self.service.run("token", "add", "vera", "--role", "viewer")["token"]
        self.operator = self.service.run("token", "add", "otto", "--role", "operator")["token"]
        cards = Path(directory) / "cards.csv"
        e2e.write_cards(cards, [e2e.card_row(n) for n in range(CARDS)])
        self.service.run("card", "import", cards)
        # Verified with the card rows, then a policy that is planned but not
        # applied: the plan adds the people's cards everywhere.
        self.service.run("sync")
        self.service.run("schedule", "add", "office", "--weekdays", "07:00-19:00")
        self.service.run("group", "add", "staff", "--grant", "office@site:main")
        for ident, name, card in PEOPLE:
            self.service.run("person", "add", ident, "--name", name, "--groups", "staff",
                             "--cards", f"{card}:{card[2:]}:123456")
        # No schedules: the tests start the syncs and archives they look at.
        self.serve = Serve(self.service, "--sync-every", 0, "--archive-every", 0, token=self.admin)

    def push(self, line, within=60):
        """A line of doorsim's control input, repeated until doorsim pushes
        it: serve arms each controller's monitoring shortly after it starts."""
        deadline = time.monotonic() + within
        while not self.sim.control(line):
            assert time.monotonic() < deadline, f"doorsim could not push {line!r}: no monitoring target"
            time.sleep(0.5)

    def stop(self):
        try:
            self.serve.stop()
        finally:
            self.sim.stop()


@pytest.fixture(scope="session")
def fleet(inside_namespace):
    with tempfile.TemporaryDirectory(prefix="doorlinkd-web-") as directory:
        running = Fleet(directory)
        yield running
        running.stop()


@pytest.fixture(scope="session")
def driver(inside_namespace):
    chromium = start_browser()
    yield chromium
    stop_browser(chromium)


@pytest.fixture
def page(driver, fleet):
    return Page(driver, fleet.serve.url)
