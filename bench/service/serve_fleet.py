"""serve with a fleet of simulated controllers, every one monitored:
- push: an error report pushed at doorsim until the MQTT subscriber has its
  event: p50 and p99 latency;
- sync: GET /api/v1/controllers at a steady rate while a sync of the whole
  fleet runs: p50 and p99 latency (goal: p99 at most 100 ms), and the
  resident memory of serve (now and at its peak)."""
import http.client
import json
import shutil
import tempfile
import threading
import time
from pathlib import Path
from urllib.parse import urlparse

import paho.mqtt.client as mqtt
from serve_support import Doorlinkd, latencies_line, memory_mib  # puts the end-to-end tests' folder on the path

from doorsim_process import Simulator
from mosquitto_process import Broker
from run import cards_csv
from serve_process import Serve


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


def run(args, bin_dir, sections):
    """The sections push and sync (those named in sections) on one fleet."""
    work = Path(tempfile.mkdtemp(prefix="doorlinkd-serve-bench-"))
    serve = None
    try:
        broker = Broker(work)
        with Simulator(str(bin_dir / "doorsim"), args.controllers, "--control") as sim:
            service = Doorlinkd(bin_dir / "doorlinkd", f"sqlite:{work}/doorlink.db", work / "data")
            token = service.run("init")["admin_token"]
            for i, (address, mac) in enumerate(sim.controllers):
                service.run("controller", "add", f"c{i + 1}", address, mac, "--number", i + 1)
            csv = work / "cards.csv"
            cards_csv(csv, args.controllers, args.cards, shared=True)
            service.run("card", "import", csv)
            serve = Serve(service, "--sync-every", 0, "--archive-every", 0, "--mqtt", broker.url, token=token)

            if "push" in sections:
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

            if "sync" in sections:
                sync_run = serve.json("POST", "/api/v1/sync", {}, expect=202)["run"]
                done = threading.Event()

                def finished():
                    status = serve.json("GET", f"/api/v1/sync/runs/{sync_run}")
                    return len(status.get("results", [])) >= args.controllers

                watcher_began = time.monotonic()
                results = []
                loader = threading.Thread(
                    target=lambda: results.extend(load(serve, args.rate, lambda: not done.is_set())))
                loader.start()
                while not finished():
                    time.sleep(0.5)
                done.set()
                loader.join()
                print(f"sync of {args.controllers} controllers x {args.cards} cards took "
                      f"{time.monotonic() - watcher_began:.1f} s under the load", flush=True)
                latencies_line(f"GET /api/v1/controllers at {args.rate}/s during the sync", results, goal=100)
                rss, peak = memory_mib(serve.process.pid)
                print(f"serve, {args.controllers} controllers: resident {rss:.1f} MiB, peak {peak:.1f} MiB", flush=True)
    finally:
        if serve:
            serve.stop()
        shutil.rmtree(work, ignore_errors=True)

