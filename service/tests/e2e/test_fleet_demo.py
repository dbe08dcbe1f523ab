"""make fleet-demo's set-up against doorsim: the policy it builds is applied
to every controller, and only the one change it plans waits."""
import json
import subprocess
import sys
from pathlib import Path

from conftest import DOORLINKD, DOORSIM, Service

DEMO = Path(__file__).resolve().parents[2] / "demo" / "fleet_demo.py"


def test_the_demo_applies_its_policy_and_leaves_one_change_planned(tmp_path):
    # Two controllers a site, not ten: the same set-up in less than half the time.
    done = subprocess.run([sys.executable, str(DEMO), "--setup-only", str(tmp_path), "--per-site", "2",
                           "--doorlinkd", DOORLINKD, "--doorsim", DOORSIM], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    waiting = json.loads(done.stdout.strip().splitlines()[-1])["plan"]
    service = Service(f"sqlite:{tmp_path}/fleet.db", tmp_path / "data")
    assert {s["name"]: s["zone"] for s in service.run("site", "list")["sites"]} == {
        "north": "Europe/Berlin", "south": "America/New_York"}
    assert len(service.run("person", "list")["people"]) == 300
    # Applied everywhere but for the change planned last: the server room's
    # three controllers gain its person's card or a longer day for it.
    code, plan = service.run("plan", expect=None)
    assert code == 4 and plan["plan"] == waiting + 1
    changes = {(c["name"], change["kind"]) for c in plan["controllers"] for change in c["changes"]}
    assert changes == {("north-01", "added"), ("north-02", "added"), ("south-01", "changed")}
    assert {change["person"] for c in plan["controllers"] for change in c["changes"]} == {"e1005"}
