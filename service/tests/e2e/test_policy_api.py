"""People, groups, schedules and holidays through the REST API, and the
access reports: a PIN never reaches anyone, a viewer only reads, a change on
an old revision is a conflict, and the reports agree with the schedule."""
import csv
import io

import pytest

from serve_process import Serve

NOW = "2026-12-23T12:00:00+01:00"  # a Wednesday in Berlin; the 24th is a holiday there
PIN = "482916"
WORKDAYS = [[], ["07:00-19:00"], ["07:00-19:00"], ["07:00-19:00"], ["07:00-19:00"], ["07:00-19:00"], []]


@pytest.fixture
def api(service):
    service.run("site", "set", "main", "--zone", "Europe/Berlin")
    serve = Serve(service, token=service.admin_token, env={"DOORLINKD_TEST_NOW": NOW})
    serve.viewer = service.run("token", "add", "watcher", "--role", "viewer")["token"]
    serve.operator = service.run("token", "add", "editor", "--role", "operator")["token"]
    yield serve
    serve.stop()


@pytest.mark.parametrize("database", ["sqlite"], indirect=True)
def test_people_and_policy_through_the_api_and_the_reports(api, service, tmp_path):
    op = api.operator
    api.json("POST", "/api/v1/controllers", {"name": "door1", "address": "127.0.0.2", "mac": "0011223344aa"},
             token=op, expect=201)
    schedule = api.json("POST", "/api/v1/schedules", {"name": "office", "days": WORKDAYS}, token=op, expect=201)
    assert schedule["days"] == WORKDAYS and schedule["holidays"] == "closed" and schedule["revision"] > 0
    api.json("POST", "/api/v1/groups", {"name": "staff", "grants": ["office@site:main"]}, token=op, expect=201)
    api.json("POST", "/api/v1/holidays", {"site": "main", "date": "2026-12-24"}, token=op, expect=201)
    person = {"id": "e1", "name": "Erin Example", "groups": ["staff"],
              "cards": [{"card": "00100001", "serial": "000001", "pin": PIN}]}
    added = api.json("POST", "/api/v1/people", person, token=op, expect=201)
    assert added["cards"] == [{"card": "00100001", "serial": "000001"}]

    # No role reads a PIN back, in any answer.
    for token in (api.viewer, op, service.admin_token):
        for path in ("/api/v1/people?search=ERIN", "/api/v1/people/e1", "/api/v1/reports/entry?controller=door1",
                     "/api/v1/reports/unused-cards"):
            status, _, body = api.request("GET", path, token=token)
            assert status == 200 and PIN.encode() not in body, (path, body)
    found = api.json("GET", "/api/v1/people?search=0010000", token=api.viewer)
    assert found["total"] == 1 and found["people"][0]["id"] == "e1"
    assert api.json("GET", "/api/v1/people?search=nobody", token=api.viewer) == {"people": [], "total": 0}

    # A viewer reads only.
    api.json("POST", "/api/v1/people", {**person, "id": "e2"}, token=api.viewer, expect=403)
    api.json("PUT", "/api/v1/people/e1", {"name": "X", "revision": added["revision"]}, token=api.viewer,
             expect=403)
    api.json("DELETE", f"/api/v1/groups/staff?revision={added['revision']}", token=api.viewer, expect=403)

    # A change names the revision it was made on; the card without a pin keeps its PIN.
    api.json("PUT", "/api/v1/people/e1", {"name": "Erin E."}, token=op, expect=400)
    changed = api.json("PUT", "/api/v1/people/e1", {"name": "Erin E.", "revision": added["revision"],
                                                     "cards": [{"card": "00100001", "serial": "000002"}]},
                       token=op)
    assert changed["name"] == "Erin E." and changed["revision"] > added["revision"]
    stale = api.json("PUT", "/api/v1/people/e1", {"name": "Late", "revision": added["revision"]}, token=op,
                     expect=409)
    assert "revision" in stale["error"], stale
    api.json("DELETE", f"/api/v1/people/e1?revision={added['revision']}", token=op, expect=409)
    api.json("DELETE", "/api/v1/people/e1", token=op, expect=400)
    service.run("person", "export", tmp_path / "people.csv")
    assert f"00100001:000002:{PIN}" in (tmp_path / "people.csv").read_text()
    audit = api.request("GET", "/api/v1/audit?limit=500")[2]
    assert b"person change" in audit and PIN.encode() not in audit

    revisions = api.json("GET", "/api/v1/policy/revision", token=api.viewer)
    assert revisions["revision"] == changed["revision"] and revisions["behind"] == ["door1"]

    # The week from today: the office on workdays, closed on the holiday.
    access = api.json("GET", "/api/v1/reports/access?person=e1", token=api.viewer)
    (door,) = access["controllers"]
    assert (door["controller"], door["site"], door["zone"]) == ("door1", "main", "Europe/Berlin")
    assert [(d["date"], d["holiday"], d["ranges"]) for d in door["days"]] == [
        ("2026-12-23", False, ["07:00-19:00"]), ("2026-12-24", True, []), ("2026-12-25", False, ["07:00-19:00"]),
        ("2026-12-26", False, []), ("2026-12-27", False, []), ("2026-12-28", False, ["07:00-19:00"]),
        ("2026-12-29", False, ["07:00-19:00"])]
    status, headers, body = api.request("GET", "/api/v1/reports/access?person=e1&format=csv", token=api.viewer)
    assert status == 200 and headers["Content-Type"].startswith("text/csv")
    assert headers["Content-Disposition"].startswith("attachment")
    rows = list(csv.DictReader(io.StringIO(body.decode())))
    assert [(r["date"], r["holiday"], r["ranges"]) for r in rows[:2]] == [
        ("2026-12-23", "no", "07:00-19:00"), ("2026-12-24", "yes", "")]
    api.json("GET", "/api/v1/reports/access?person=e1&format=xml", token=api.viewer, expect=400)
    api.json("GET", "/api/v1/reports/access?person=e9", token=api.viewer, expect=404)

    entry = api.json("GET", "/api/v1/reports/entry?controller=door1", token=api.viewer)
    assert [(p["id"], p["cards"], p["days"], p["holidays"][1]) for p in entry["people"]] == [
        ("e1", ["00100001"], WORKDAYS, [])]

    unused = api.json("GET", "/api/v1/reports/unused-cards?days=30", token=api.viewer)
    assert unused["cards"] == [{"card": "00100001", "holder": {"kind": "person", "id": "e1", "name": "Erin E."},
                                "last_record": None}]
    api.json("GET", "/api/v1/reports/unused-cards?days=0", token=api.viewer, expect=400)

    # What is in use is not removed; the rest goes on its own revision.
    group = api.json("GET", "/api/v1/groups", token=api.viewer)["groups"][0]
    api.json("DELETE", f"/api/v1/groups/staff?revision={group['revision']}", token=op, expect=409)
    holiday = api.json("GET", "/api/v1/holidays?site=main", token=api.viewer)["holidays"][0]
    yearly = api.json("PUT", "/api/v1/holidays/main/2026-12-24", {"yearly": True, "revision": holiday["revision"]},
                      token=op)
    assert yearly["yearly"] is True
    api.json("DELETE", f"/api/v1/holidays/main/2026-12-24?revision={yearly['revision']}", token=op)
    assert api.json("GET", "/api/v1/holidays", token=api.viewer) == {"holidays": []}

    # A name may hold '/': sent as %2F it is one segment of the path.
    slashed = api.json("POST", "/api/v1/groups", {"name": "night/shift"}, token=op, expect=201)
    slashed = api.json("PUT", "/api/v1/groups/night%2Fshift",
                       {"grants": ["office@site:main"], "revision": slashed["revision"]}, token=op)
    assert slashed["name"] == "night/shift" and slashed["grants"] == ["office@site:main"]
    api.json("DELETE", f"/api/v1/groups/night%2Fshift?revision={slashed['revision']}", token=op)
