"""An instance of serve per site on one PostgreSQL database: each takes only
the leases of its site's controllers; once one stops, its site's controller
shows unserved in the controllers' list and /metrics, and an MQTT command
for it is refused at once by the instance that hears it."""
import time

from conftest import Service, postgres_database
from mosquitto_process import Broker
from serve_process import Serve
from test_mqtt import Listener, command, fresh
from test_mqtt_instances import query


def served(listed):
    return {c["name"]: c["served"] for c in listed["controllers"]}


def test_each_site_has_its_instance_and_an_unserved_one_is_told(simulator, tmp_path):
    db = postgres_database()
    broker = Broker(tmp_path)
    listener = Listener(broker, ["doorlink/+/reply", "doorlink/service/+/status"])
    sites = ("north", "south")
    services = {site: Service(db, tmp_path / site) for site in sites}
    cli = services["north"]
    admin = cli.run("init")["admin_token"]
    serves = []
    try:
        sim = simulator(2)
        for site, name, (address, mac) in zip(sites, ("n1", "s1"), sim.controllers):
            cli.run("site", "add", site, "--zone", "UTC")
            cli.run("controller", "add", name, address, mac, "--site", site)
        code, refused = cli.run("serve", "--site", "north", "--site", "west", expect=None)
        assert code == 2 and "no site named west" in refused["error"], refused
        assert served(cli.run("controller", "list")) == {"n1": False, "s1": False}  # no instance yet

        # north starts first: without its site it would take both leases.
        for site in sites:
            serves.append(Serve(services[site], "--instance", site, "--site", site, "--mqtt", broker.url,
                                "--mqtt-commands", "--sync-every", 0, "--archive-every", 0, token=admin))
        north, south = serves
        holders = dict(row.split("|") for row in query(
            db, "SELECT controller, owner FROM leases WHERE controller NOT LIKE '@%'"))
        assert {c: o.split(":")[0] for c, o in holders.items()} == {"n1": "north", "s1": "south"}, holders
        assert served(north.json("GET", "/api/v1/controllers")) == {"n1": True, "s1": True}

        south.stop()
        assert served(north.json("GET", "/api/v1/controllers")) == {"n1": True, "s1": False}
        assert served(cli.run("controller", "list")) == {"n1": True, "s1": False}
        metrics = north.request("GET", "/metrics")[2].decode()
        assert 'doorlinkd_controller_served{controller="s1",site="south"} 0' in metrics, metrics
        assert "doorlinkd_controllers_unserved 1" in metrics, metrics

        # north hears it (subscribed a moment after it is online) and
        # answers at once, not when nobody took it up.
        listener.wait(lambda m: m["topic"] == "doorlink/service/north/status" and m["payload"]["online"])
        time.sleep(1)
        asked = time.monotonic()
        command(listener, "time", fresh("to-s1"), controller="s1")
        answer = listener.wait(lambda m: m["topic"] == "doorlink/s1/reply")
        assert time.monotonic() - asked < 5
        assert (answer["payload"]["result"], answer["payload"]["error"]) == (
            "refused", "no instance serves site south of s1"), answer
        audit = north.json("GET", "/api/v1/audit?limit=20")["audit"]
        assert [(e["target"], e["result"]) for e in audit if e["who"] == "mqtt"] == [
            ("s1", "refused: no instance serves site south of s1")], audit
    finally:
        for s in serves:
            s.kill()
        listener.close()
        broker.stop()
