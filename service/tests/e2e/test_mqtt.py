"""doorlinkd serve on MQTT, against a mosquitto broker of each test's own:
events on their topics, the instance's retained status, an outage that
loses nothing, and commands refused or acted on, answered and audited, an
open that waited too long behind a silent controller refused unsent."""
import json
import random
import socket
import ssl
import subprocess
import threading
import time
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties
from paho.mqtt.subscribeoptions import SubscribeOptions
import pytest

from conftest import Service
from mosquitto_process import Broker
from serve_process import Serve

INSTANCE = "mqtt-e2e"
STATUS = f"doorlink/service/{INSTANCE}/status"


class Listener:
    """An MQTT 5 client that keeps every message on the topics it follows
    (retained flags as published) and can publish."""

    def __init__(self, broker, topics=("doorlink/#",), ca=None):
        self.messages = []
        self.changed = threading.Condition()
        self.client = mqtt.Client(client_id="test-" + uuid.uuid4().hex[:8], protocol=mqtt.MQTTv5)
        self.client.on_message = self._keep
        if ca:
            self.client.tls_set(ca_certs=str(ca), tls_version=ssl.PROTOCOL_TLS_CLIENT)
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
                                  "correlation": getattr(props, "CorrelationData", None), "at": time.monotonic()})
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
        if self.client:
            self.client.loop_stop()
            self.client.disconnect()
            self.client = None


def certificates(directory):
    """A CA of its own and the broker's certificate for 127.0.0.1 it signed:
    the broker's TLS configuration lines."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=directory, check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "1",
            "-subj", "/CN=doorlink test CA")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out", "broker.csr",
            "-subj", "/CN=127.0.0.1")
    (directory / "broker.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "broker.crt", "-days", "1", "-extfile", "broker.ext")
    # As root mosquitto would read its files as the user mosquitto, who
    # cannot enter the test's directory.
    return "".join(f"{key} {directory / name}\n" for key, name in
                   [("cafile", "ca.crt"), ("certfile", "broker.crt"), ("keyfile", "broker.key")]) + "user root\n"


class Rig:
    """A broker (on TLS with tls), the listeners on it, and serve with
    commands on beside a doorsim; all ended with the test."""

    def __init__(self, tmp_path, simulator, tls=False):
        self.tmp_path, self.simulator = tmp_path, simulator
        self.broker = Broker(tmp_path, extra=certificates(tmp_path) if tls else "")
        self.ca = tmp_path / "ca.crt" if tls else None
        self.url = f"mqtts://127.0.0.1:{self.broker.port}" if tls else self.broker.url
        self.listeners, self.serves = [], []

    def listen(self, topics=("doorlink/#",)):
        self.listeners.append(Listener(self.broker, topics, self.ca))
        return self.listeners[-1]

    def serve(self, more=()):
        """serve (with the admin token) and its doorsim of one controller,
        door1; more: further controllers, (name, address, mac)."""
        service = Service(f"sqlite:{self.tmp_path}/fleet.db", self.tmp_path / "data")
        admin = service.run("init")["admin_token"]
        sim = self.simulator(1, "--control")
        service.add_controllers(sim)
        for controller in more:
            service.run("controller", "add", *controller)
        tls = ["--mqtt-ca", self.ca] if self.ca else []
        self.serves.append(Serve(service, "--instance", INSTANCE, "--mqtt", self.url, "--mqtt-commands", *tls,
                                 "--mqtt-reply-prefix", "answers/", token=admin))
        return self.serves[-1], sim

    def close(self):
        for serve in self.serves:
            serve.kill()
        for listener in self.listeners:
            listener.close()
        self.broker.stop()


@pytest.fixture
def rig(request, tmp_path, simulator):
    made = Rig(tmp_path, simulator, tls=getattr(request, "param", False))
    yield made
    made.close()


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


def until_commands_are_heard(listener, timeout=30):
    """Once serve has subscribed to the commands: door1's clock set until it
    is answered (serve connects in the background)."""
    deadline = time.monotonic() + timeout
    for n in range(1000):
        command(listener, "time", fresh(f"ready-{n}"))
        try:
            return listener.wait(lambda m: m["topic"] == "doorlink/door1/reply", timeout=1)
        except AssertionError:
            assert time.monotonic() < deadline, "serve did not hear commands"


def test_events_and_the_instance_status_reach_their_topics(rig):
    listener = rig.listen()
    serve, sim = rig.serve()
    online = listener.wait(lambda m: m["topic"] == STATUS)["payload"]
    assert online["online"] is True and online["instance"] == INSTANCE and online["since"]

    push(sim, "error 1 the reader is jammed")
    error = listener.wait(events("doorlink/door1/event", "error"))["payload"]
    assert error["text"] == "the reader is jammed" and error["controller"] == "door1" and error["id"] > 0

    command(listener, "sync", fresh("sync-1"))
    answer = listener.wait(lambda m: m["topic"] == "doorlink/door1/reply")["payload"]
    assert answer["result"] == "ok" and answer["id"] == "sync-1", answer
    # serve's own sync at its start may come too: this one is the command's run.
    synced = listener.wait(lambda m: m["topic"] == "doorlink/door1/sync" and m["payload"]["run"] == answer["run"],
                           timeout=60)["payload"]
    assert synced["kind"] == "sync" and synced["controller"] == "door1"

    # A late subscriber gets the status as the broker keeps it.
    assert rig.listen([STATUS]).wait(lambda m: m["topic"] == STATUS)["retain"]
    assert serve.stop() < 5
    offline = rig.listen([STATUS]).wait(lambda m: m["topic"] == STATUS)
    assert offline["payload"] == {"online": False, "instance": INSTANCE} and offline["retain"]


def test_a_broker_outage_loses_nothing(rig):
    listener = rig.listen()
    serve, sim = rig.serve()
    push(sim, "error 1 before")
    first = listener.wait(events("doorlink/door1/event"))["payload"]["id"]

    rig.broker.stop()
    listener.close()
    began = time.monotonic()
    for line in ["error 1 gone 1", "error 1 gone 2", "photo 1 1 23456", "error 1 gone 3", "error 1 gone 4",
                 "photo 1 2 34567", "error 1 gone 5"]:
        push(sim, line)
        time.sleep(0.3)
    time.sleep(max(0.0, 10 - (time.monotonic() - began)))
    rig.broker.start()
    listener = rig.listen()

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


def test_commands_are_refused_unless_fresh_and_new_and_always_answered(rig):
    listener = rig.listen(["doorlink/#", "answers/here", "elsewhere/#"])
    # Retained before serve subscribes: refused when it comes with the subscription.
    command(listener, "open", fresh("kept-before", door=1), retain=True)
    serve, _ = rig.serve()
    replies = lambda m: m["topic"] == "doorlink/door1/reply"
    answer = listener.wait(replies)["payload"]
    assert answer == {"id": "kept-before", "result": "refused", "error": "a retained command is never acted on"}

    command(listener, "open", fresh("kept-while", door=1), retain=True)
    command(listener, "open", {**fresh("stale", door=1), "time": int(time.time()) - 120})
    command(listener, "open", {**fresh("future", door=1), "time": int(time.time()) + 120})
    command(listener, "open", "not json")
    command(listener, "open", fresh("nobody", door=1), controller="door9")
    asked = Properties(PacketTypes.PUBLISH)
    asked.ResponseTopic = "answers/here"
    asked.CorrelationData = b"\x00\x01request"
    command(listener, "open", fresh("open-1", door=2), properties=asked)
    opened = listener.wait(lambda m: m["topic"] == "answers/here")
    assert opened["payload"] == {"id": "open-1", "result": "ok", "error": None}
    assert opened["correlation"] == b"\x00\x01request"
    command(listener, "open", fresh("open-1", door=2))  # seen before
    # A response topic outside the allowed prefix is not used: the answer
    # goes to the controller's own reply topic.
    asked.ResponseTopic = "elsewhere/anything"
    command(listener, "time", fresh("time-1"), properties=asked)

    answers = [m["payload"] for m in listener.wait(replies, count=7)]
    answers.append(listener.wait(lambda m: m["topic"] == "doorlink/door9/reply")["payload"])
    results = {a["id"]: (a["result"], a["error"]) for a in answers}
    assert results["kept-while"] == ("refused", "a retained command is never acted on")
    assert results["stale"] == ("refused", "the command is stale")
    assert results["future"] == ("refused", "the command's time is in the future")
    assert results[None] == ("refused", "the payload is not JSON")
    assert results["nobody"][0] == "refused"
    assert results["open-1"] == ("refused", "the id open-1 was seen before")
    assert results["time-1"] == ("ok", None)
    assert not [m for m in listener.messages if m["topic"].startswith("elsewhere/")]

    audit = serve.json("GET", "/api/v1/audit?limit=100")["audit"]
    commands = {(e["detail"], e["target"], e["result"].split(":")[0]) for e in audit
                if e["who"] == "mqtt" and e["action"] == "mqtt cmd/open"}
    assert commands == {("kept-before", "door1", "refused"), ("kept-while", "door1", "refused"),
                        ("stale", "door1", "refused"), ("future", "door1", "refused"), ("", "door1", "refused"),
                        ("nobody", "door9", "refused"), ("open-1", "door1", "ok"),
                        ("open-1", "door1", "refused")}, audit


class SilentController:
    """A controller on loopback port 9000 that hears and never answers: when
    each door command reached it."""
    OPEN = bytes([0x63, 0x36, 0x46, 0x56, 0x11, 0x22])  # how a door command begins
    MAC = "00a0c9f0f0f0"

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for _ in range(20):
            self.address = f"127.{random.randint(20, 99)}.{random.randint(0, 249)}.251"
            try:
                self.socket.bind((self.address, 9000))
                break
            except OSError:
                continue
        self.opens = []
        threading.Thread(target=self._hear, daemon=True).start()

    def _hear(self):
        while True:
            try:
                data = self.socket.recv(2048)
            except OSError:
                return
            if data.startswith(self.OPEN):
                self.opens.append(time.monotonic())

    def close(self):
        self.socket.close()


def test_an_open_behind_a_silent_controller_expires_unsent_and_holds_up_no_other(rig):
    listener = rig.listen(["doorlink/+/reply"])
    silent = SilentController()
    try:
        rig.serve(more=[("silent", silent.address, SilentController.MAC)])
        until_commands_are_heard(listener)
        # Each open of the silent controller lasts its 2 s of silence: the
        # sixth and seventh are taken up more than 10 s after they came.
        waiting = [f"silent-{n}" for n in range(7)]
        for id in waiting:
            command(listener, "open", fresh(id, door=1), controller="silent")
        asked = time.monotonic()
        command(listener, "open", fresh("other", door=1))
        other = listener.wait(lambda m: m["topic"] == "doorlink/door1/reply" and m["payload"]["id"] == "other")
        assert other["payload"]["result"] == "ok" and other["at"] - asked < 6, other

        answers = listener.wait(lambda m: m["topic"] == "doorlink/silent/reply", count=7, timeout=60)
        assert sorted(a["payload"]["id"] for a in answers) == waiting
        expired = [a for a in answers if (a["payload"]["error"] or "").startswith("expired: ")]
        sent = [a for a in answers if a not in expired]
        assert expired and sent, answers
        assert all(a["payload"]["result"] == "refused" and "10 s" in a["payload"]["error"] for a in expired)
        assert all(a["payload"]["result"] == "failed" for a in sent), sent
        # Nothing reached the controller after the last open that was sent
        # had failed: the expired ones never went out.
        assert silent.opens and max(silent.opens) < max(a["at"] for a in sent)
        time.sleep(1)
        assert len([m for m in listener.messages if m["topic"] == "doorlink/silent/reply"]) == 7
    finally:
        silent.close()


@pytest.mark.parametrize("rig", [True], indirect=True)
def test_over_tls_serve_connects_once_the_broker_is_up(rig):
    rig.broker.stop()
    rig.serve()
    time.sleep(2)  # attempts fail meanwhile
    rig.broker.start()
    online = rig.listen([STATUS]).wait(lambda m: m["topic"] == STATUS, timeout=8)
    assert online["payload"]["online"] is True
