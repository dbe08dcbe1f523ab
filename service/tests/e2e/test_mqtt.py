"""doorlinkd serve on MQTT, against a mosquitto broker of each test's own:
events on their topics, the instance's retained status, an outage that
loses nothing, and commands refused or acted on, answered and audited."""
import json
import threading
import time
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties
from paho.mqtt.subscribeoptions import SubscribeOptions

from conftest import Service
from mosquitto_process import Broker
from serve_process import Serve

INSTANCE = "mqtt-e2e"
STATUS = f"doorlink/service/{INSTANCE}/status"


class Listener:
    """An MQTT 5 client that keeps every message on the topics it follows
    (retained flags as published) and can publish."""

    def __init__(self, broker, topics=("doorlink/#",)):
        self.messages = []
        self.changed = threading.Condition()
        self.client = mqtt.Client(client_id="test-" + uuid.uuid4().hex[:8], protocol=mqtt.MQTTv5)
        self.client.on_message = self._keep
        self.client.connect("127.0.0.1", broker.port)
        self.client.loop_start()
        options = SubscribeOptions(qos=1, retainAsPublished=True)
        for topic in topics:
            self.client.subscribe(topic, options=options)
        # Subscribed once a publish of its own comes back.
        probe = "test/probe/" + uuid.uuid4().hex
        self.client.subscribe(probe, options=options)
        self.publish(probe, "probe")
        self.wait(lambda m: m["topic"] == probe)

    def _keep(self, client, userdata, message):
        props = message.properties
        try:
            payload = json.loads(message.payload) if message.payload else None
        except ValueError:
            payload = message.payload
        with self.changed:
            self.messages.append({"topic": message.topic, "payload": payload, "retain": bool(message.retain),
                                  "correlation": getattr(props, "CorrelationData", None)})
            self.changed.notify_all()

    def until(self, check, timeout=30):
        """What check(messages so far) returns, once it is true."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                result = check(self.messages)
                if result:
                    return result
                left = deadline - time.monotonic()
                assert left > 0, f"not within {timeout} s: {self.messages}"
                self.changed.wait(left)

    def wait(self, match, count=1, timeout=30):
        """The first count messages that match, once they have come."""
        def enough(messages):
            found = [m for m in messages if match(m)]
            return found[:count] if len(found) >= count else None
        found = self.until(enough, timeout)
        return found if count > 1 else found[0]

    def publish(self, topic, payload, retain=False, properties=None):
        data = json.dumps(payload) if isinstance(payload, dict) else payload
        self.client.publish(topic, data, qos=1, retain=retain, properties=properties).wait_for_publish()

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def start_serve(tmp_path, simulator, broker, count=1):
    """serve with commands on, a doorsim with count controllers, and its
    admin token."""
    service = Service(f"sqlite:{tmp_path}/fleet.db", tmp_path / "data")
    admin = service.run("init")["admin_token"]
    sim = simulator(count, "--control")
    service.add_controllers(sim)
    serve = Serve(service, "--instance", INSTANCE, "--mqtt", broker.url, "--mqtt-commands", token=admin)
    return serve, sim


def push(sim, line, timeout=30):
    """A doorsim push, once serve has set the controller's monitoring target."""
    deadline = time.monotonic() + timeout
    while not sim.control(line):
        assert time.monotonic() < deadline, "serve did not arm the controller's monitoring"
        time.sleep(0.2)


def events(topic, kind=None):
    return lambda m: m["topic"] == topic and (kind is None or m["payload"]["kind"] == kind)


def command(listener, verb, payload, controller="door1", **options):
    listener.publish(f"doorlink/{controller}/cmd/{verb}", payload, **options)


def fresh(id, **fields):
    return {"id": id, "time": int(time.time()), **fields}


def test_events_and_the_instance_status_reach_their_topics(tmp_path, simulator):
    broker = Broker(tmp_path)
    listener = Listener(broker)
    serve, sim = start_serve(tmp_path, simulator, broker)
    try:
        online = listener.wait(lambda m: m["topic"] == STATUS)["payload"]
        assert online["online"] is True and online["instance"] == INSTANCE and online["since"]

        push(sim, "error 1 the reader is jammed")
        error = listener.wait(events("doorlink/door1/event", "error"))["payload"]
        assert error["text"] == "the reader is jammed" and error["controller"] == "door1" and error["id"] > 0

        command(listener, "sync", fresh("sync-1"))
        answer = listener.wait(lambda m: m["topic"] == "doorlink/door1/reply")["payload"]
        assert answer["result"] == "ok" and answer["id"] == "sync-1", answer
        synced = listener.wait(events("doorlink/door1/sync"), timeout=60)["payload"]
        assert synced["kind"] == "sync" and synced["run"] == answer["run"]

        # A late subscriber gets the status as the broker keeps it.
        late = Listener(broker, [STATUS])
        assert late.wait(lambda m: m["topic"] == STATUS)["retain"]
        serve.stop()
        offline = late.wait(lambda m: m["topic"] == STATUS and not m["payload"]["online"])
        assert offline["payload"] == {"online": False, "instance": INSTANCE}
        late.close()
        assert Listener(broker, [STATUS]).wait(lambda m: m["topic"] == STATUS)["payload"]["online"] is False
    finally:
        serve.kill()
        listener.close()
        broker.stop()


def test_a_broker_outage_loses_nothing(tmp_path, simulator):
    broker = Broker(tmp_path)
    listener = Listener(broker)
    serve, sim = start_serve(tmp_path, simulator, broker)
    try:
        push(sim, "error 1 before")
        first = listener.wait(events("doorlink/door1/event"))["payload"]["id"]

        broker.stop()
        listener.close()
        began = time.monotonic()
        pushes = ["error 1 gone 1", "error 1 gone 2", "photo 1 1 23456", "error 1 gone 3",
                  "error 1 gone 4", "photo 1 2 34567", "error 1 gone 5"]
        for line in pushes:
            push(sim, line)
            time.sleep(0.3)
        time.sleep(max(0.0, 10 - (time.monotonic() - began)))
        broker.start()
        listener = Listener(broker)

        # Copies are allowed: consumers drop them by id.
        def seven(messages):
            ids = list(dict.fromkeys(m["payload"]["id"] for m in messages if m["topic"] == "doorlink/door1/event"))
            return ids if len(ids) >= 7 else None
        ids = listener.until(seven, timeout=90)
        assert ids == sorted(ids) and ids[0] > first and len(ids) == 7, ids
        by_id = {m["payload"]["id"]: m["payload"] for m in listener.messages if m["topic"] == "doorlink/door1/event"}
        assert sorted(by_id[i]["kind"] for i in ids) == ["error"] * 5 + ["photo"] * 2
        assert [by_id[i]["text"] for i in ids if by_id[i]["kind"] == "error"] == [f"gone {n}" for n in range(1, 6)]

        # Killed, it leaves its last will.
        serve.kill()
        gone = listener.wait(lambda m: m["topic"] == STATUS and not m["payload"]["online"])
        assert gone["payload"] == {"online": False, "instance": INSTANCE}
    finally:
        serve.kill()
        listener.close()
        broker.stop()


def test_commands_are_refused_unless_fresh_and_new_and_always_answered(tmp_path, simulator):
    broker = Broker(tmp_path)
    listener = Listener(broker, ["doorlink/#", "answers/here"])
    # Retained before serve subscribes: refused when it comes with the subscription.
    command(listener, "open", fresh("kept-before", door=1), retain=True)
    serve, sim = start_serve(tmp_path, simulator, broker)
    try:
        replies = lambda m: m["topic"] == "doorlink/door1/reply"
        answer = listener.wait(replies)["payload"]
        assert answer == {"id": "kept-before", "result": "refused",
                          "error": "a retained command is never acted on"}, answer

        command(listener, "open", fresh("kept-while", door=1), retain=True)
        command(listener, "open", {**fresh("stale", door=1), "time": int(time.time()) - 120})
        command(listener, "open", {**fresh("future", door=1), "time": int(time.time()) + 120})
        command(listener, "open", "not json")
        command(listener, "open", fresh("nobody", door=1), controller="door9")
        asked = Properties(PacketTypes.PUBLISH)
        asked.ResponseTopic = "answers/here"
        asked.CorrelationData = b"\x00\x01request"
        command(listener, "open", fresh("open-1", door=2), properties=asked)
        opened = listener.wait(lambda m: m["topic"] == "answers/here", timeout=30)
        assert opened["payload"] == {"id": "open-1", "result": "ok", "error": None}
        assert opened["correlation"] == b"\x00\x01request"
        command(listener, "open", fresh("open-1", door=2))  # seen before

        answers = [m["payload"] for m in listener.wait(replies, count=6)]
        nobody = listener.wait(lambda m: m["topic"] == "doorlink/door9/reply")["payload"]
        results = {a["id"]: (a["result"], a["error"]) for a in answers + [nobody]}
        assert results["kept-while"] == ("refused", "a retained command is never acted on")
        assert results["stale"] == ("refused", "the command is stale")
        assert results["future"] == ("refused", "the command's time is in the future")
        assert results[None] == ("refused", "the payload is not JSON")
        assert results["nobody"][0] == "refused"
        assert results["open-1"] == ("refused", "the id open-1 was seen before")

        audit = serve.json("GET", "/api/v1/audit?limit=100")["audit"]
        mqtt_entries = {(e["detail"], e["result"].split(":")[0]) for e in audit
                        if e["who"] == "mqtt" and e["action"] == "mqtt cmd/open"}
        assert mqtt_entries == {("kept-before", "refused"), ("kept-while", "refused"), ("stale", "refused"),
                                ("future", "refused"), ("", "refused"), ("nobody", "refused"),
                                ("open-1", "ok"), ("open-1", "refused")}, audit
    finally:
        serve.kill()
        listener.close()
        broker.stop()
