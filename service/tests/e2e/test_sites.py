"""Sites from the command line: each with its time zone, every controller in
one; refusals name what was refused and change nothing; on both databases."""
import os
import sqlite3
import subprocess

from conftest import DOORLINKD, Service


def test_sites_and_the_controllers_they_hold(service):
    # init made the site main; with one site a controller goes there unasked.
    assert [s["name"] for s in service.run("site", "list")["sites"]] == ["main"]
    assert service.run("controller", "add", "hall", "127.0.0.9", "00a0c9000009")["site"] == "main"

    added = service.run("site", "add", "lisbon", "--zone", "Europe/Lisbon", "--description", "the warehouse")
    assert added == {"name": "lisbon", "zone": "Europe/Lisbon", "description": "the warehouse"}
    for args, reason in [(["lisbon", "--zone", "UTC"], "exists already"),
                         (["paris", "--zone", "Europe/Nowhere"], "Europe/Nowhere"),
                         (["paris", "--zone", "../../etc/passwd"], "etc/passwd"),
                         (["bad name", "--zone", "UTC"], "bad name")]:
        code, refused = service.run("site", "add", *args, expect=None)
        assert code == 2 and reason in refused["error"], refused

    # Two sites: which one must be said.
    code, refused = service.run("controller", "add", "gate", "127.0.0.8", "00a0c9000008", expect=None)
    assert code == 2 and "lisbon main" in refused["error"], refused
    code, refused = service.run("controller", "add", "gate", "127.0.0.8", "00a0c9000008", "--site", "paris",
                                expect=None)
    assert code == 2 and "paris" in refused["error"], refused
    assert service.run("controller", "add", "gate", "127.0.0.8", "00a0c9000008", "--site", "lisbon")["site"] == \
        "lisbon"
    listed = service.run("controller", "list")["controllers"]
    assert [(c["name"], c["site"]) for c in listed] == [("gate", "lisbon"), ("hall", "main")]

    set_zone = service.run("site", "set", "lisbon", "--zone", "Atlantic/Madeira")
    assert set_zone["zone"] == "Atlantic/Madeira" and set_zone["description"] == "the warehouse"
    code, refused = service.run("site", "set", "lisbon", "--zone", "Mars/Olympus", expect=None)
    assert code == 2 and service.run("site", "list")["sites"][0]["zone"] == "Atlantic/Madeira"
    code, refused = service.run("site", "set", "paris", "--description", "x", expect=None)
    assert code == 2 and "paris" in refused["error"]

    code, refused = service.run("site", "remove", "lisbon", expect=None)
    assert code == 2 and refused["error"].endswith("still has controllers: gate"), refused
    assert service.run("controller", "set", "gate", "--site", "main")["site"] == "main"
    code, refused = service.run("controller", "set", "gate", "--site", "paris", expect=None)
    assert code == 2 and "paris" in refused["error"]
    assert service.run("site", "remove", "lisbon") == {"removed": "lisbon"}
    assert [s["name"] for s in service.run("site", "list")["sites"]] == ["main"]

    if service.db.startswith("sqlite:"):
        with sqlite3.connect(service.db[len("sqlite:"):]) as db:
            audited = db.execute("SELECT who, action, target FROM audit WHERE action NOT LIKE 'token%'"
                                 " ORDER BY id").fetchall()
        assert audited == [("cli", "site add", "lisbon"), ("cli", "site set", "lisbon"),
                           ("cli", "controller set", "gate"), ("cli", "site remove", "lisbon")]


def test_a_controllers_lossy_is_kept_listed_and_its_change_audited(service):
    assert service.run("controller", "add", "far", "127.0.0.7", "00a0c9000007", "--lossy")["lossy"] is True
    assert service.run("controller", "add", "near", "127.0.0.6", "00a0c9000006")["lossy"] is False
    assert service.run("controller", "set", "far", "--no-lossy")["lossy"] is False
    assert service.run("controller", "set", "near", "--lossy", "--site", "main")["lossy"] is True
    assert [(c["name"], c["lossy"]) for c in service.run("controller", "list")["controllers"]] == \
        [("far", False), ("near", True)]
    code, refused = service.run("controller", "set", "far", expect=None)
    assert code == 2 and "nothing to change" in refused["error"], refused
    code, refused = service.run("controller", "set", "gone", "--lossy", expect=None)
    assert code != 0 and "gone" in refused["error"], refused
    text = [part for part in service.command("controller", "list") if part != "--json"]
    listed = subprocess.run(text, capture_output=True, text=True, check=True).stdout.splitlines()
    assert ["  lossy" in line for line in listed] == [False, True], listed
    if service.db.startswith("sqlite:"):
        with sqlite3.connect(service.db[len("sqlite:"):]) as db:
            audited = db.execute("SELECT target, detail FROM audit WHERE action = 'controller set'"
                                 " ORDER BY id").fetchall()
        assert audited == [("far", "not lossy"), ("near", "site main, lossy")]


def test_init_makes_the_site_main_in_the_zone_given_or_the_hosts(database, tmp_path):
    given = Service(database, tmp_path / "data")
    assert given.run("init", "--time-zone", "Asia/Tokyo")["schema_version"] == 10
    assert given.run("site", "list")["sites"] == [{"name": "main", "zone": "Asia/Tokyo", "description": ""}]

    fresh = Service(f"sqlite:{tmp_path}/fresh.db", tmp_path / "data2")
    code, refused = fresh.run("init", "--time-zone", "Nowhere/Land", expect=None)
    assert code == 2 and "Nowhere/Land" in refused["error"]
    # The host's zone: TZ when it names one.
    subprocess.run(fresh.command("init"), env={**os.environ, "TZ": "America/Montevideo"}, check=True,
                   capture_output=True)
    assert fresh.run("site", "list")["sites"][0]["zone"] == "America/Montevideo"

    # The configuration file's time_zone, serve's, before the host's; init's own before both.
    config = tmp_path / "doorlinkd.toml"
    config.write_text('time_zone = "Asia/Kolkata"\n')
    for args, zone in [([], "Asia/Kolkata"), (["--time-zone", "Asia/Tokyo"], "Asia/Tokyo")]:
        configured = Service(f"sqlite:{tmp_path}/configured{len(args)}.db", tmp_path / f"data{len(args) + 3}")
        configured.run("--config", config, "init", *args)
        assert configured.run("site", "list")["sites"][0]["zone"] == zone
