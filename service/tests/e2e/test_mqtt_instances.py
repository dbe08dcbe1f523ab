"""Two serve instances on one PostgreSQL database, the controllers split
between them by their leases, and MQTT commands heard by one instance or by
both: each command runs where its controller's lease is held and is
answered and audited exactly once, also when that holder dies while it
runs one, and when no instance drives its controller."""
import collections
import subprocess
import time

from conftest import Service, postgres_database
from mosquitto_process import Broker
from serve_process import Serve
from test_mqtt import Listener, command, fresh


def query(db, sql):
    return subprocess.run(["psql", db, "-Atc", sql], check=True, capture_output=True, text=True).stdout.split()


def until(check, timeout=20):
    deadline = time.monotonic() + timeout
    while not check():
        assert time.monotonic() < deadline, "not within %s s" % timeout
        time.sleep(0.05)


def test_every_command_is_answered_once_by_whichever_instances(simulator, tmp_path):
    db = postgres_database()
    broker = Broker(tmp_path)
    listener = Listener(broker, ["doorlink/+/reply", "doorlink/service/+/status"])
    services = {name: Service(db, tmp_path / name) for name in "ab"}
    admin = services["a"].run("init")["admin_token"]
    serves = []

    def serve(name, *args):
        serves.append(Serve(services[name], "--instance", name, "--mqtt", broker.url, "--sync-every", 0,
                            "--archive-every", 0, *args, token=admin))
        return serves[-1]

    def subscribed(name):
        # Online, then subscribed a moment later on the same connection.
        listener.wait(lambda m: m["topic"] == f"doorlink/service/{name}/status" and m["payload"]["online"]
                      and m["at"] > began)
        time.sleep(1)

    try:
        # a holds door1 and door2 and takes leases again only after 120 s;
        # b, started after them, holds the next two: quick1 and slow1 (whose
        # answers come after 1.5 s).
        services["a"].add_controllers(simulator(2))
        began = time.monotonic()
        a = serve("a", "--lease-seconds", 120, "--mqtt-commands")
        subscribed("a")
        services["b"].add_controllers(simulator(1), prefix="quick")
        services["b"].add_controllers(simulator(1, "--delay", 1500), prefix="slow")
        began = time.monotonic()
        b = serve("b", "--lease-seconds", 3)
        subscribed("b")
        holders = dict(row.split("|") for row in query(db, "SELECT controller, owner FROM leases WHERE controller NOT LIKE '@%'"))
        assert {c: o.split(":")[0] for c, o in holders.items()} == {
            "door1": "a", "door2": "a", "quick1": "b", "slow1": "b"}, holders

        expected = collections.Counter()

        def ask(controller, verb, id, **fields):
            command(listener, verb, fresh(id, **fields), controller=controller)
            expected[id] += 1

        def both_hear_and_b_runs(phase):
            ask("door1", "time", f"{phase}-door1")
            ask("quick1", "time", f"{phase}-quick1")
            ask("slow1", "open", f"{phase}-slow1", door=0)
            ask("quick1", "open", f"{phase}-again", door=1)
            ask("quick1", "open", f"{phase}-again", door=2)  # the id again: refused once
            # Refused by its hearers, once (each phase's its own: the very
            # same message within 10 s would be taken for the same publish).
            command(listener, "open", f"not json: {phase}", controller="door2")
            expected[None] += 1

        def answered(messages):
            got = collections.Counter(m["payload"]["id"] for m in messages if m["topic"].endswith("/reply"))
            return got if all(got[id] >= n for id, n in expected.items()) else None

        # Commands on in a only: b runs those of its controllers.
        both_hear_and_b_runs("one")
        listener.until(answered)
        # Commands on in both: each publish is heard twice, answered once.
        b.stop()
        began = time.monotonic()
        b = serve("b", "--lease-seconds", 3, "--mqtt-commands")
        subscribed("b")
        both_hear_and_b_runs("two")
        ask("quick1", "time", "two-stale")
        command(listener, "time", {**fresh("two-stale"), "time": int(time.time()) - 120}, controller="quick1")
        expected["two-stale"] += 1
        listener.until(answered)

        # b dies while it opens slow1's door; then nobody drives quick1.
        ask("slow1", "open", "three-cut", door=3)
        until(lambda: query(db, "SELECT state FROM commands WHERE id = 'three-cut' AND copy = 0") == ["running"])
        b.kill()
        ask("quick1", "time", "three-orphan")

        listener.until(answered, timeout=30)
        time.sleep(1.5)  # time for a second answer to come, were there one
        answers = [m["payload"] for m in listener.messages if m["topic"].endswith("/reply")]
        assert collections.Counter(answer["id"] for answer in answers) == expected, answers
        results = collections.defaultdict(list)
        for answer in answers:
            results[answer["id"]].append((answer["result"], answer["error"]))
        for phase in ("one", "two"):
            assert results[f"{phase}-door1"] == [("ok", None)]
            assert results[f"{phase}-quick1"] == [("ok", None)]
            assert sorted(results[f"{phase}-again"]) == [
                ("ok", None), ("refused", f"the id {phase}-again was seen before")]
        assert results[None] == [("refused", "the payload is not JSON")] * 2
        assert sorted(results["two-stale"])[1] == ("refused", "the command is stale")
        (cut,) = results["three-cut"]
        assert cut[0] == "failed" and cut[1].startswith("interrupted: "), cut
        assert results["three-orphan"] == [("refused", "expired: no instance drives quick1")]

        audit = a.json("GET", "/api/v1/audit?limit=100")["audit"]
        audited = collections.Counter(e["detail"] or None for e in audit if e["who"] == "mqtt")
        assert audited == expected, audit
    finally:
        for s in serves:
            s.kill()
        listener.close()
        broker.stop()
