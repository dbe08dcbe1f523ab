"""People, groups, schedules and holidays from the command line, on both
databases: a person in two groups compiles, on a controller of each site, to
the records worked out by hand; the card rows beside people sync as before;
a stale change exits 5; the people file round-trips and is the owner's alone."""
import os
import stat

from conftest import card_row, write_cards

AT = "2026-12-08T12:00:00Z"  # a Tuesday; a holiday in Lisbon
HEADER = "id,name,email,active,valid_from,valid_until,groups,cards\n"


def days(sunday, monday, tuesday, wednesday, thursday, friday, saturday):
    return {"sunday": sunday, "monday": monday, "tuesday": tuesday, "wednesday": wednesday,
            "thursday": thursday, "friday": friday, "saturday": saturday}


def compiled(service, controller, at=AT):
    result = service.run("compile", controller, "--at", at)
    return {c["card"]: {k: c[k] for k in ("serial", "user_style", "open_style", *days(*"abcdefg"))}
            for c in result["cards"]}


def test_a_person_in_two_groups_compiles_on_each_site_and_card_rows_sync_as_before(
        service, simulator, tmp_path):
    sim = simulator(2)
    service.run("site", "set", "main", "--zone", "Europe/Berlin")
    service.run("site", "add", "lisbon", "--zone", "Europe/Lisbon")
    (berlin_address, berlin_mac), (lisbon_address, lisbon_mac) = sim.controllers
    service.run("controller", "add", "berlin-1", berlin_address, berlin_mac, "--site", "main")
    service.run("controller", "add", "lisbon-1", lisbon_address, lisbon_mac, "--site", "lisbon")

    service.run("schedule", "add", "office", "--weekdays", "07:00-19:00")
    service.run("schedule", "add", "late", "--weekdays", "18:00-22:00", "--holidays", "open")
    service.run("holiday", "add", "lisbon", "2026-12-08")
    service.run("group", "add", "staff", "--grant", "office@site:main", "--grant", "office@site:lisbon")
    service.run("group", "add", "it", "--grant", "late@controllers:lisbon-1")
    people = tmp_path / "people.csv"
    people.write_text(HEADER +
                      "e1,Alice,alice@example.org,true,,2026-12-31,staff it,"
                      "00100001:000001:111111 00100002:000002:222222\n"
                      "e2,Bob,,true,,2026-12-07,staff,00100003:000003:333333\n")
    assert service.run("person", "import", people) == {"added": 2, "changed": 0, "unchanged": 0, "removed": 0}
    # A card row beside the people, for both controllers.
    write_cards(tmp_path / "cards.csv", [card_row(1)])
    service.run("card", "import", tmp_path / "cards.csv")

    office = days("", "0700-1900-01;", "0700-1900-01;", "0700-1900-01;", "0700-1900-01;", "0700-1900-01;", "")
    alice = {"serial": None, "user_style": 1, "open_style": 2}
    row = {"serial": "100001", "user_style": 1, "open_style": 2,
           **days("0800-1200-01;", "", "", "", "", "", "")}
    # Bob's validity ended yesterday; in Berlin Alice has the office's hours.
    assert compiled(service, "berlin-1") == {
        "00100001": {**alice, "serial": "000001", **office},
        "00100002": {**alice, "serial": "000002", **office},
        "00110001": row,
    }
    # In Lisbon the office is closed on today's holiday and late is not; the
    # other weekdays are the union of both, 07:00 to 22:00.
    lisbon = days("", "0700-2200-01;", "1800-2200-01;", "0700-2200-01;", "0700-2200-01;", "0700-2200-01;", "")
    assert compiled(service, "lisbon-1") == {
        "00100001": {**alice, "serial": "000001", **lisbon},
        "00100002": {**alice, "serial": "000002", **lisbon},
        "00110001": row,
    }

    # sync sends the card rows as before: the people's cards are not sent yet.
    synced = service.run("sync")
    assert {c["name"]: (c["status"], c["cards"]) for c in synced["controllers"]} == {
        "berlin-1": ("repaired", 1), "lisbon-1": ("repaired", 1)}

    # The list never shows a PIN; the export does, to its owner alone.
    listed = service.run("person", "list")
    assert "111111" not in str(listed) and [p["id"] for p in listed["people"]] == ["e1", "e2"]
    exported = tmp_path / "export.csv"
    service.run("person", "export", exported)
    assert stat.S_IMODE(os.stat(exported).st_mode) == 0o600
    assert "00100001:000001:111111" in exported.read_text()


def test_refusals_name_what_is_refused_and_a_stale_change_exits_5(service):
    service.run("schedule", "add", "office", "--weekdays", "07:00-19:00")
    service.run("group", "add", "staff", "--grant", "office@site:main")
    added = service.run("person", "add", "e1", "--name", "Ann", "--groups", "staff")
    code, refused = service.run("person", "change", "e1", "--name", "Anne", "--revision", added["revision"] - 1,
                                expect=None)
    assert code == 5 and "revision" in refused["error"], refused
    service.run("person", "change", "e1", "--name", "Anne", "--revision", added["revision"])

    code, refused = service.run("group", "remove", "staff", expect=None)
    assert code == 2 and "e1" in refused["error"], refused
    code, refused = service.run("schedule", "remove", "office", expect=None)
    assert code == 2 and "staff" in refused["error"], refused
    code, refused = service.run("schedule", "add", "bad", "--monday", "19:00-07:00", expect=None)
    assert code == 2 and "monday" in refused["error"], refused

    bad = service.data_dir.parent / "bad.csv"
    bad.write_text(HEADER + "e2,Ben,,true,,,staff,\ne3,Cy,,perhaps,,,staff,\ne4,Di,,true,,,nosuch,\n")
    code, refused = service.run("person", "import", bad, expect=None)
    assert code == 2, refused
    assert [(r["line"], r["column"]) for r in refused["rows"]] == [(3, "active")], refused
    assert [p["id"] for p in service.run("person", "list")["people"]] == ["e1"]
