"""Records of controllers in two sites' zones, end to end: archived from
doorsim controllers whose clocks keep their zone's local time, they are
listed newest first by the instant each stands for, and since and until
given with an offset pick by instant; on both databases."""
import calendar
import json

from serve_process import Serve

# The records are taken up to 2026-12-08 08:03:00Z (doorsim: a minute apart).
UNTIL = calendar.timegm((2026, 12, 8, 8, 3, 0))


def test_records_of_two_zones_sort_and_filter_by_instant(service, simulator, monkeypatch):
    # Each simulator's clock keeps its zone's local time: Berlin's records
    # at 08:00, 08:01, 08:02Z (09:00 local), New York's 30 s after each
    # (03:00:30 local), so that by instant they alternate.
    with monkeypatch.context() as zone:
        zone.setenv("TZ", "Europe/Berlin")
        berlin = simulator(1, "--records", 3, "--records-time", UNTIL)
        zone.setenv("TZ", "America/New_York")
        new_york = simulator(1, "--records", 3, "--records-time", UNTIL + 30)
    monkeypatch.setenv("TZ", "UTC")
    service.run("site", "add", "berlin", "--zone", "Europe/Berlin")
    service.run("site", "add", "new-york", "--zone", "America/New_York")
    for name, sim, site in (("b", berlin, "berlin"), ("n", new_york, "new-york")):
        address, mac = sim.controllers[0]
        service.run("controller", "add", name, address, mac, "--site", site)
    assert all(c["records"] == 3 for c in service.run("archive")["controllers"])

    serve = Serve(service, token=service.admin_token)
    try:
        def listed(query=""):
            return [(r["controller"], r["instant"]) for r in serve.json("GET", "/api/v1/records" + query)["records"]]

        assert listed() == [("n", "2026-12-08T08:02:30Z"), ("b", "2026-12-08T08:02:00Z"),
                            ("n", "2026-12-08T08:01:30Z"), ("b", "2026-12-08T08:01:00Z"),
                            ("n", "2026-12-08T08:00:30Z"), ("b", "2026-12-08T08:00:00Z")]
        first = serve.json("GET", "/api/v1/records?limit=1")["records"][0]
        assert {k: first[k] for k in ("time", "instant", "site", "zone", "local_kind")} == {
            "time": "20261208030230", "instant": "2026-12-08T08:02:30Z", "site": "new-york",
            "zone": "America/New_York", "local_kind": "exact"}

        since = "2026-12-08T09:01:00%2B01:00"  # 08:01Z
        assert [i for _, i in listed("?since=" + since)] == [
            "2026-12-08T08:02:30Z", "2026-12-08T08:02:00Z", "2026-12-08T08:01:30Z", "2026-12-08T08:01:00Z"]
        # A '+' not escaped arrives as a blank, and means the same.
        assert listed("?since=2026-12-08T09:01:00+01:00") == listed("?since=" + since)
        assert listed("?since=" + since + "&until=2026-12-08T03:02:00-05:00") == [
            ("n", "2026-12-08T08:01:30Z"), ("b", "2026-12-08T08:01:00Z")]
        # The older form: each record's own local time, whatever its zone.
        assert listed("?since=20261208090100") == [("b", "2026-12-08T08:02:00Z"), ("b", "2026-12-08T08:01:00Z")]
        status, _, body = serve.request("GET", "/api/v1/records?since=2026-12-08T09:01:00")
        assert status == 400 and "offset" in json.loads(body)["error"], body
    finally:
        serve.stop()

    cli = service.run("records", "--since", "2026-12-08T08:02:00Z")["records"]
    assert [(r["controller"], r["instant"], r["zone"]) for r in cli] == [
        ("n", "2026-12-08T08:02:30Z", "America/New_York"), ("b", "2026-12-08T08:02:00Z", "Europe/Berlin")]
    code, refused = service.run("records", "--since", "yesterday", expect=None)
    assert code == 2 and "--since" in refused["error"], refused
