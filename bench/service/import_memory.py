"""The memory a large card import of bad rows takes: POSTed to a fresh serve
(its VmHWM over idle) and given to `doorlinkd card import` (its peak RSS
over that of a one-row file). Goal for both: under 100 MiB above idle.
Each is stopped past a guard of memory or time, so that a server that
holds every row's error does not take the machine with it."""
import http.client
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from serve_support import Doorlinkd, fresh_serve, memory_mib

CARD_HEADER = ("card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,"
               "thursday,friday,saturday,extra_cards,controllers\n")
GOAL_MIB = 100


def bad_rows_csv(path, size):
    """The header, then lines of "x" up to size bytes."""
    rows = (size - len(CARD_HEADER)) // 2
    with open(path, "wb") as out:
        out.write(CARD_HEADER.encode())
        block = b"x\n" * 65536
        for _ in range(rows // 65536):
            out.write(block)
        out.write(b"x\n" * (rows % 65536))


class Guard:
    """Kills pid once its VmRSS passes limit_mib or seconds pass; notes the
    largest VmRSS it saw."""

    def __init__(self, pid, limit_mib, seconds):
        self.pid, self.limit, self.deadline = pid, limit_mib, time.monotonic() + seconds
        self.reason, self.largest = None, 0.0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while not self.done.wait(0.05):
            try:
                rss, _ = memory_mib(self.pid)
            except (FileNotFoundError, ProcessLookupError, KeyError):
                return
            self.largest = max(self.largest, rss)
            over = rss > self.limit and f"its VmRSS passed {self.limit} MiB"
            late = time.monotonic() > self.deadline and "it took too long"
            if over or late:
                self.reason = over or late
                os.kill(self.pid, signal.SIGKILL)
                return

    def stop(self):
        self.done.set()
        self.thread.join()


def post_import(serve, csv, timeout):
    """(status, bytes of the answer, seconds); the answer is read and
    dropped."""
    port = int(serve.url.rsplit(":", 1)[1])
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    began = time.monotonic()
    try:
        with open(csv, "rb") as body:
            connection.request("POST", "/api/v1/cards/import", body=body,
                               headers={"Authorization": "Bearer " + serve.token, "Content-Type": "text/csv",
                                        "Content-Length": str(csv.stat().st_size)})
        answer = connection.getresponse()
        size = 0
        while chunk := answer.read(1 << 20):
            size += len(chunk)
        return answer.status, size, time.monotonic() - began
    finally:
        connection.close()


def serve_growth(binary, sim, csv, args, work):
    serve = fresh_serve(binary, work, sim)
    try:
        serve.request("GET", "/api/v1/controllers")
        _, idle = memory_mib(serve.process.pid)
        guard = Guard(serve.process.pid, args.import_guard_mib, args.import_timeout)
        try:
            status, size, took = post_import(serve, csv, args.import_timeout)
            _, peak = memory_mib(serve.process.pid)
        except (OSError, http.client.HTTPException, FileNotFoundError) as e:
            status, size, took, peak = type(e).__name__, 0, None, guard.largest
        guard.stop()
        return idle, peak, status, size, took, guard.reason
    finally:
        serve.kill()


def cli_peak(service, csv, args):
    """(peak RSS MiB, exit status, bytes written, seconds, why stopped) of
    doorlinkd card import FILE."""
    process = subprocess.Popen(service.command("card", "import", csv), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    written = [0]

    def drain():
        while chunk := process.stdout.read(1 << 20):
            written[0] += len(chunk)

    reader = threading.Thread(target=drain)
    reader.start()
    began = time.monotonic()
    guard = Guard(process.pid, args.import_guard_mib, args.import_timeout)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    took = time.monotonic() - began
    guard.stop()
    reader.join()
    return usage.ru_maxrss / 1024, process.returncode, written[0], took, guard.reason


def verdict(growth, stopped):
    return "over" if stopped or growth >= GOAL_MIB else "ok"


def run(binary, sim, args):
    work = Path(tempfile.mkdtemp(prefix="doorlinkd-serve-import-"))
    try:
        csv = work / "bad-rows.csv"
        bad_rows_csv(csv, args.import_mib << 20)
        mib = csv.stat().st_size / (1 << 20)
        idle, peak, status, size, took, stopped = serve_growth(binary, sim, csv, args, work / "serve")

        growth = f"{'at least ' if stopped else ''}{peak - idle:+.1f} MiB"
        outcome = (f"stopped: {stopped}" if stopped else
                   f"answered {status} ({size / (1 << 20):.1f} MiB) in {took:.1f} s")
        print(f"import of {mib:.1f} MiB of bad rows: serve's VmHWM {growth} over idle ({idle:.1f} MiB), "
              f"{outcome} (goal < {GOAL_MIB} MiB above idle: {verdict(peak - idle, stopped)})", flush=True)

        service = Doorlinkd(binary, f"sqlite:{work}/cli.db", work / "cli-data")
        service.run("init")
        one_row = work / "one-bad-row.csv"
        bad_rows_csv(one_row, len(CARD_HEADER) + 2)
        base, *_ = cli_peak(service, one_row, args)
        cli, code, written, took, stopped = cli_peak(service, csv, args)
        outcome = (f"stopped: {stopped}" if stopped else
                   f"exit {code}, {written / (1 << 20):.1f} MiB written, {took:.1f} s")
        growth = f"{'at least ' if stopped else ''}{cli - base:+.1f} MiB"
        print(f"  doorlinkd card import FILE: peak RSS {cli:.1f} MiB, {growth} over a one-row file's "
              f"({base:.1f} MiB), {outcome} (goal < {GOAL_MIB} MiB above idle: {verdict(cli - base, stopped)})",
              flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
