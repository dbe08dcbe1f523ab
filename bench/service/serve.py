#!/usr/bin/env python3
"""doorlinkd serve's benchmark, with a fleet of simulated controllers:
- GET /api/v1/controllers at a steady rate while a sync of the whole fleet
  runs: p50 and p99 latency (goal: p99 at most 100 ms);
- an error report pushed at doorsim until the MQTT subscriber has its event,
  with every controller monitored: p50 and p99 latency;
- the resident memory of serve (now and at its peak).

    serve.py BUILD_DIR [--controllers 250] [--cards 1000] [--rate 100] [--pushes 300]
"""
import argparse
import http.client
import json
import shutil
import sys
import tempfile
import threading
import time
from pathlib import Path
from urllib.parse import urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "service" / "tests" / "e2e"))
from doorsim_process import Simulator  # noqa: E402
from mosquitto_process import Broker  # noqa: E402
from serve_process import Serve  # noqa: E402
import conftest  # noqa: E402  (the end-to-end tests' Service runs doorlinkd)

import paho.mqtt.client as mqtt  # noqa: E402
from run import cards_csv  # noqa: E402


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def latencies_line(name, values, goal=None):
    values_ms = [v * 1000 for v in values]
    verdict = ""
    if goal is not None:
        verdict = f" (goal p99 <= {goal} ms: {'ok' if percentile(values_ms, 99) <= goal else 'over'})"
    print(f"{name}: n={len(values_ms)} p50 {percentile(values_ms, 50):.1f} ms, "
          f"p99 {percentile(values_ms, 99):.1f} ms, max {max(values_ms):.1f} ms{verdict}", flush=True)


def memory(pid):
    fields = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = line.partition(":")
        fields[key] = value.strip()
    return fields["VmRSS"], fields["VmHWM"]


def load(serve, rate, keep_going):
    """GET /api/v1/controllers every 1/rate s from a few connections, each
    request at its own moment whatever the others do; the latencies."""
    url = urlparse(serve.url)
    results, lock = [], threading.Lock()
    interval = 1.0 / rate
    workers = 8

    def worker(k):
        connection = http.client.HTTPConnection(url.hostname, url.port, timeout=30)
        due = time.monotonic() + k * interval
        while keep_going():
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            began = time.monotonic()
            connection.request("GET", "/api/v1/controllers", headers={"Authorization": "Bearer " + serve.token})
            answer = connection.getresponse()
            answer.read()
            took = time.monotonic() - began
            if answer.status != 200:
                raise RuntimeError(f"GET /api/v1/controllers: {answer.status}")
            with lock:
                results.append(took)
            due += workers * interval

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(workers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--controllers", type=int, default=250)
    parser.add_argument("--cards", type=int, default=1000)
    parser.add_argument("--rate", type=int, default=100)
    parser.add_argument("--pushes", type=int, default=300)
    args = parser.parse_args()
    bin_dir = Path(args.build) / "bin"
    work = Path(tempfile.mkdtemp(prefix="doorlinkd-serve-bench-"))
    serve = None
    try:
        broker = Broker(work)
        with Simulator(str(bin_dir / "doorsim"), args.controllers, "--control") as sim:
            conftest.DOORLINKD = str(bin_dir / "doorlinkd")
            service = conftest.Service(f"sqlite:{work}/doorlink.db", work / "data")
            token = service.run("init")["admin_token"]
            for i, (address, mac) in enumerate(sim.controllers):
                service.run("controller", "add", f"c{i + 1}", address, mac, "--number", i + 1)
            csv = work / "cards.csv"
            cards_csv(csv, args.controllers, args.cards, shared=True)
            service.run("card", "import", csv)
            serve = Serve(service, "--sync-every", 0, "--archive-every", 0, "--mqtt", broker.url, token=token)

            # A push is refused by doorsim until serve has armed the
            # controller's monitoring: the first round waits for that.
            deadline = time.monotonic() + 120
            received, lock = {}, threading.Lock()

            def on_message(client, userdata, message):
                data = json.loads(message.payload)
                text = data.get("text", "")
                if text.startswith("bench "):
                    with lock:
                        received.setdefault(int(text.split()[1]), time.monotonic())

            subscriber = mqtt.Client(client_id="bench", protocol=mqtt.MQTTv5)
            subscriber.on_message = on_message
            subscriber.connect("127.0.0.1", broker.port)
            subscriber.subscribe("doorlink/+/event", qos=1)
            subscriber.loop_start()
            time.sleep(1)

            sent = {}
            for n in range(args.pushes):
                k = 1 + n % args.controllers
                while True:
                    began = time.monotonic()
                    if sim.control(f"error {k} bench {n}"):
                        sent[n] = began
                        break
                    if time.monotonic() > deadline:
                        raise RuntimeError(f"controller {k} is not monitored")
                    time.sleep(0.2)
                time.sleep(0.01)
            wait_until = time.monotonic() + 30
            while len(received) < len(sent) and time.monotonic() < wait_until:
                time.sleep(0.1)
            subscriber.loop_stop()
            if len(received) < len(sent):
                raise RuntimeError(f"{len(sent) - len(received)} pushed events never reached the subscriber")
            latencies_line(f"push to MQTT subscriber, {args.controllers} monitored controllers",
                           [received[n] - sent[n] for n in sent])

            run = serve.json("POST", "/api/v1/sync", {}, expect=202)["run"]
            done = threading.Event()

            def finished():
                status = serve.json("GET", f"/api/v1/sync/runs/{run}")
                return len(status.get("results", [])) >= args.controllers

            watcher_began = time.monotonic()
            results = []
            loader = threading.Thread(target=lambda: results.extend(load(serve, args.rate, lambda: not done.is_set())))
            loader.start()
            while not finished():
                time.sleep(0.5)
            done.set()
            loader.join()
            print(f"sync of {args.controllers} controllers x {args.cards} cards took "
                  f"{time.monotonic() - watcher_began:.1f} s under the load", flush=True)
            latencies_line(f"GET /api/v1/controllers at {args.rate}/s during the sync", results, goal=100)
            rss, peak = memory(serve.process.pid)
            print(f"serve, {args.controllers} controllers: resident {rss}, peak {peak}", flush=True)
    finally:
        if serve:
            serve.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
