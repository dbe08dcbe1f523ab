"""Fixtures: a doorsim with two controllers on loopback, and a data
directory of this run's own for the library (DOORLINK_HOME, set before the
library is loaded)."""

from __future__ import annotations

import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Dict, Iterator, List

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

_home = tempfile.mkdtemp(prefix="doorlink-python-")
os.environ["DOORLINK_HOME"] = _home

import doorlink  # noqa: E402


class Sim:
    """A running doorsim --control: its controllers and its control input."""

    def __init__(self, executable: str) -> None:
        self.log = Path(_home) / "doorsim.log"
        for _ in range(5):
            # A /24 of loopback addresses no other suite of the tree takes.
            base = f"127.{random.randint(250, 254)}.{random.randint(0, 249)}.2"
            self.process = subprocess.Popen(
                [executable, "--controllers", "2", "--address", base, "--records", "3", "--control"],
                stdin=subprocess.PIPE, stdout=open(self.log, "w"), stderr=subprocess.STDOUT,
                text=True)
            for _ in range(100):
                if "ready" in self.log.read_text() or self.process.poll() is not None:
                    break
                time.sleep(0.1)
            if "ready" in self.log.read_text():
                break
            self.stop()
        else:
            raise RuntimeError("doorsim did not start:\n" + self.log.read_text())
        self.controllers: List[Dict[str, str]] = [
            m.groupdict() for m in re.finditer(
                r"controller \d+: (?P<address>[\d.]+):9000 mac (?P<mac>\w+) framed node (?P<node>\d+)"
                r" station (?P<station>\w+)", self.log.read_text())]

    def control(self, line: str) -> None:
        """One control command; waits for doorsim to confirm it."""
        done = self.log.read_text().count("ok\n")
        assert self.process.stdin is not None
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        for _ in range(50):
            if self.log.read_text().count("ok\n") > done:
                return
            time.sleep(0.1)
        raise AssertionError(f"doorsim did not confirm {line!r}:\n{self.log.read_text()}")

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(10)


@pytest.fixture(scope="session")
def sim() -> Iterator[Sim]:
    executable = os.environ.get("DOORSIM")
    if not executable:
        pytest.skip("DOORSIM names no doorsim executable")
    running = Sim(executable)
    yield running
    running.stop()


@pytest.fixture(scope="session")
def door(sim: Sim) -> doorlink.Controller:
    """The first controller; the second is kept for changes of address and MAC."""
    return doorlink.Controller(sim.controllers[0]["address"], sim.controllers[0]["mac"])


@pytest.fixture(scope="session", autouse=True)
def home() -> Iterator[Path]:
    previous = os.getcwd()
    os.chdir(_home)  # ping.ini lands in the current directory
    yield Path(_home)
    os.chdir(previous)
    shutil.rmtree(_home, ignore_errors=True)
