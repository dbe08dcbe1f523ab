"""Plan, apply and leavers against doorsim: 20 controllers on two sites in
two zones and 500 people in 6 groups. A plan shows what each controller
gains; applied, every list reads back as compiled. The test clock crosses
a validity date and a holiday: the plan shows exactly the cards they touch,
and a sync sends them. A plan made stale is refused; a leaver disabled while
serve holds the controllers is confirmed gone from every one."""
import time

import pytest

from serve_process import Serve

HEADER = "id,name,email,active,valid_from,valid_until,groups,cards\n"
BERLIN = [f"door{i}" for i in range(1, 11)]
NEW_YORK = [f"door{i}" for i in range(11, 21)]
# Each group and the controllers it grants anything on.
GROUPS = {
    "berlin-office": (["office@site:main"], BERLIN),
    "ny-office": (["office@site:ny"], NEW_YORK),
    "late": (["late@site:main", "late@site:ny"], BERLIN + NEW_YORK),
    "lab": (["always@controllers:door1,door2"], ["door1", "door2"]),
    "lobby": (["office@controllers:door11"], ["door11"]),
    "both": (["office@site:main", "office@site:ny"], BERLIN + NEW_YORK),
}
NAMES = list(GROUPS)
# Where a group's office hours (closed on holidays) reach New York.
OFFICE_IN_NEW_YORK = {"ny-office": NEW_YORK, "both": NEW_YORK, "lobby": ["door11"]}
THURSDAY = "2026-12-10T12:00:00+01:00"
FRIDAY = "2026-12-11T12:00:00+01:00"  # a holiday in New York, 06:00 there


def person(i):
    return f"e{i:03d}", f"002{i:05d}"


def groups_of(i):
    return [NAMES[i % 6]] + (["late"] if i % 10 == 0 and NAMES[i % 6] != "late" else [])


def leaves_on_thursday(i):
    return i % 50 == 7


def reached(i):
    return {c for g in groups_of(i) for c in GROUPS[g][1]}


def changes(plan):
    return {(c["name"], change["card"], change["kind"]) for c in plan["controllers"] for change in c["changes"]}


def statuses(result):
    return {c["name"]: c["status"] for c in result["controllers"]}


@pytest.fixture
def fleet(service, simulator, tmp_path, monkeypatch):
    monkeypatch.setenv("DOORLINKD_TEST_NOW", THURSDAY)
    sim = simulator(20)
    service.run("site", "set", "main", "--zone", "Europe/Berlin")
    service.run("site", "add", "ny", "--zone", "America/New_York")
    for i, (address, mac) in enumerate(sim.controllers):
        service.run("controller", "add", f"door{i + 1}", address, mac, "--site", "main" if i < 10 else "ny")
    service.run("schedule", "add", "office", "--weekdays", "07:00-19:00")
    service.run("schedule", "add", "late", "--weekdays", "18:00-22:00", "--holidays", "open")
    service.run("holiday", "add", "ny", "2026-12-11")
    for name, (grants, _) in GROUPS.items():
        service.run("group", "add", name, *[a for g in grants for a in ("--grant", g)])
    rows = []
    for i in range(500):
        ident, card = person(i)
        until = "2026-12-10" if leaves_on_thursday(i) else ""
        rows.append(f"{ident},Person {i},,true,,{until},{' '.join(groups_of(i))},{card}:{i:06d}:{100000 + i}\n")
    (tmp_path / "people.csv").write_text(HEADER + "".join(rows))
    service.run("person", "import", tmp_path / "people.csv")
    return service


def test_plan_apply_dates_that_change_lists_by_themselves_and_leavers_gone_everywhere(fleet, monkeypatch):
    service = fleet
    # Nothing is sent before an apply: every controller is new to the plan.
    code, plan = service.run("plan", expect=None)
    assert code == 4 and plan["changing"] == 20
    assert changes(plan) == {(c, person(i)[1], "added") for i in range(500) for c in reached(i)}
    assert all(r for c in plan["controllers"] for change in c["changes"] for r in change["reasons"])
    assert all(change["name"] == f"Person {int(change['person'][1:])}"
               for c in plan["controllers"] for change in c["changes"])
    applied = service.run("apply", plan["plan"])
    assert set(statuses(applied).values()) == {"repaired"}
    assert set(statuses(service.run("sync", "--check")).values()) == {"in_step"}
    assert service.run("plan")["changing"] == 0
    # Applied twice: refused.
    assert service.run("apply", plan["plan"], expect=2)["error"].startswith("plan")

    # Friday: the validity ended on Thursday removes those people's cards
    # where they were; New York's holiday closes the office there for the
    # day, which changes exactly the cards of office hours in New York.
    monkeypatch.setenv("DOORLINKD_TEST_NOW", FRIDAY)
    code, friday = service.run("plan", expect=None)
    removed = {(c, person(i)[1], "removed") for i in range(500) if leaves_on_thursday(i) for c in reached(i)}
    changed = {(c, person(i)[1], "changed") for i in range(500) if not leaves_on_thursday(i)
               for g in groups_of(i) for c in OFFICE_IN_NEW_YORK.get(g, [])}
    assert code == 4 and changes(friday) == removed | changed
    # The dates apply by themselves: a sync sends the applied revision as of now.
    synced = statuses(service.run("sync"))
    assert {n for n, s in synced.items() if s == "repaired"} == {c for c, _, _ in changes(friday)}
    assert set(statuses(service.run("sync", "--check")).values()) == {"in_step"}
    assert service.run("plan")["changing"] == 0

    # A scheduled sync between plan and apply verifies the same lists: the
    # plan still applies. One made stale by an edit is refused; the next
    # one applies.
    moved = service.run("person", "change", "e001", "--groups", "lab", expect=0)
    assert moved["groups"] == ["lab"]
    code, plan = service.run("plan", expect=None)
    assert code == 4 and changes(plan) == {(c, person(1)[1], "removed") for c in NEW_YORK} | {
        (c, person(1)[1], "added") for c in ("door1", "door2")}
    assert set(statuses(service.run("sync")).values()) == {"in_step"}
    assert set(statuses(service.run("apply", plan["plan"])).values()) == {"repaired"}
    service.run("person", "change", "e002", "--groups", "lab")
    code, plan = service.run("plan", expect=None)
    service.run("person", "change", "e003", "--name", "Someone Else")
    refused = service.run("apply", plan["plan"], expect=2)
    assert "revision" in refused["error"]
    assert set(statuses(service.run("apply", "--now")).values()) == {"repaired"}
    assert service.run("plan")["changing"] == 0

    # Leavers, while serve holds the controllers (one fleet for both parts:
    # setting it up is most of the test's time).
    server = Serve(service, "--lease-seconds", 2, "--sync-every", 0, "--archive-every", 0,
                   token=service.admin_token, env={"DOORLINKD_TEST_NOW": FRIDAY})
    try:
        # The command line hands the removal to serve and prints its outcome.
        left = service.run("person", "disable", "e005")
        assert left["leavers"] == ["e005"] and statuses(left) == {c: "repaired" for c in reached(5)}
        # And the API: the answer names the controllers; serve confirms each.
        answer = server.json("POST", "/api/v1/people/e010/disable")
        assert set(answer["controllers"]) == reached(10) and answer["person"]["active"] is False
        deadline = time.monotonic() + 60
        while True:
            audit = server.json("GET", "/api/v1/audit?limit=200")["audit"]
            confirmed = {e["detail"].split(":")[0] for e in audit
                         if e["action"] == "leaver removal" and e["target"] == "e010" and e["result"] == "ok"}
            if confirmed == reached(10) or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        assert confirmed == reached(10)
        assert any(e["action"] == "person disable" and e["target"] == "e010" for e in audit)
        # The lists read back as compiled: the leavers' cards are nowhere.
        assert set(statuses(service.run("sync", "--check")).values()) == {"in_step"}
        api_plan = server.json("POST", "/api/v1/plans", {}, expect=201)
        service.run("person", "change", "e004", "--name", "Moved On")
        server.json("POST", f"/api/v1/plans/{api_plan['plan']}/apply", expect=409)
    finally:
        server.stop()
