"""Requests per second of GET /api/v1/controllers from a few clients in
parallel, each on one keep-alive connection or on a fresh connection for
every request, against serve of this build and of an older one, each on a
fresh database of the same controllers. The two take turns, a few rounds
each, so that what else the machine does weighs on both alike."""
import http.client
import contextlib
import shutil
import tempfile
import threading
import time
from pathlib import Path

from serve_support import fresh_serve


def requests_per_second(serve, connections, seconds, fresh):
    """(answers, failures, seconds): each client asks again as soon as it has
    its answer, on its keep-alive connection (opened again when the server
    closed it) or, when fresh, on a new one."""
    port = int(serve.url.rsplit(":", 1)[1])
    headers = {"Authorization": "Bearer " + serve.token}
    if fresh:
        headers["Connection"] = "close"
    counts = [[0, 0] for _ in range(connections)]  # answered, failed
    start = threading.Barrier(connections + 1)
    stop_at = []

    def client(k):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        start.wait()
        while time.monotonic() < stop_at[0]:
            try:
                connection.request("GET", "/api/v1/controllers", headers=headers)
                answer = connection.getresponse()
                answer.read()
                counts[k][0 if answer.status == 200 else 1] += 1
                if fresh:
                    connection.close()
            except (OSError, http.client.HTTPException):
                counts[k][1] += 1
                connection.close()
        connection.close()

    threads = [threading.Thread(target=client, args=(k,)) for k in range(connections)]
    for t in threads:
        t.start()
    stop_at.append(time.monotonic() + seconds)
    began = time.monotonic()
    start.wait()
    for t in threads:
        t.join()
    took = time.monotonic() - began
    return sum(c[0] for c in counts), sum(c[1] for c in counts), took


MODES = ["keep-alive", "fresh"]


@contextlib.contextmanager
def running_serve(binary, sim):
    work = Path(tempfile.mkdtemp(prefix="doorlinkd-serve-rps-"))
    serve = None
    try:
        serve = fresh_serve(binary, work, sim)
        yield serve
    finally:
        if serve:
            serve.stop()
        shutil.rmtree(work, ignore_errors=True)


def run(new_doorlinkd, old_doorlinkd, old_revision, sim, args):
    builds = {"this build": new_doorlinkd}
    if old_doorlinkd:
        builds[f"the old server ({old_revision})"] = old_doorlinkd
    round_seconds = args.rps_seconds / args.rps_rounds
    with contextlib.ExitStack() as stack:
        serves = {name: stack.enter_context(running_serve(binary, sim)) for name, binary in builds.items()}
        for serve in serves.values():
            requests_per_second(serve, args.rps_connections, 1, fresh=False)  # warm-up
        totals = {(name, mode): [0, 0, 0.0] for name in serves for mode in MODES}
        for _ in range(args.rps_rounds):
            for mode in MODES:
                for name, serve in serves.items():
                    counts = requests_per_second(serve, args.rps_connections, round_seconds, fresh=mode == "fresh")
                    totals[name, mode] = [a + b for a, b in zip(totals[name, mode], counts)]
    print(f"GET /api/v1/controllers ({len(sim.controllers)} controllers), {args.rps_connections} clients, "
          f"{args.rps_seconds:g} s each way in {args.rps_rounds} turns (goal: this build no slower than the old "
          f"server, within 10%):", flush=True)
    for mode in MODES:
        rates = {name: (totals[name, mode][0] / totals[name, mode][2], totals[name, mode][1]) for name in serves}
        line = f"  {mode} connections: " + ", ".join(f"{name} {rate:.0f}/s ({failed} failed)"
                                                    for name, (rate, failed) in rates.items())
        if len(rates) == 2:
            new_rate, old_rate = (rate for rate, _ in rates.values())
            line += f"; ratio {new_rate / old_rate:.2f}: {'ok' if new_rate >= 0.9 * old_rate else 'under'}"
        else:
            line += "; the old server not measured (no --old-doorlinkd)"
        print(line, flush=True)
