#!/usr/bin/env python3
"""doorlinkd's benchmark: sync and archive of a fleet of simulated
controllers, each beside its floor (doorlinkd_floor: the same exports called
directly from as many threads), in the same run, with their ratio, the peak
resident memory of doorlinkd, and the growth of sync from a small fleet to
the full one.

    run.py BUILD_DIR [--controllers 250] [--cards 5000] [--records 200] [--parallel 16] [--runs 2]
                     [--only shared,own,archive,growth] [--doorlinkd PATH]

Each measurement runs --runs times and the fastest counts. The peak memory
of the floor is printed beside doorlinkd's: both include what the library
itself takes (the read-back's INI file is built in memory). The sync of
cards of their own has a goal for doorlinkd's peak memory too: it reads the
cards of the controllers it syncs at the moment, not those of the fleet;
its row says how far doorlinkd's peak lies above the floor's, the memory
that is the service's own.
--doorlinkd measures another build's program (an older one, for a figure
before a change) against this build's floor and simulator.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "service" / "tests" / "e2e"))
from doorsim_process import Simulator  # noqa: E402

HEADER = ("card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,"
          "thursday,friday,saturday,extra_cards,controllers\n")


# The peak resident memory (MiB) that doorlinkd's sync of 250 controllers with
# 5,000 cards of their own each, 16 at once, keeps below.
OWN_CARDS_PEAK_GOAL_MIB = 200


def timed(command, env=None, stdin=None):
    """Wall seconds and peak resident memory (MiB) of one process."""
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE if stdin else None,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if stdin:
        process.stdin.write(stdin)
        process.stdin.close()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command[0]} failed: {process.stderr.read()}")
    return seconds, usage.ru_maxrss / 1024


# Rows of one card file: an import takes at most a million.
ROWS_PER_FILE = 500_000


def cards_csv(directory, controllers, cards, shared):
    """The card files of the fleet, each at most ROWS_PER_FILE rows."""
    owners = [""] if shared else [f"c{i + 1}" for i in range(controllers)]
    rows = ((k, i) for k in range(len(owners)) for i in range(cards))
    files = []
    out = None
    for n, (k, i) in enumerate(rows):
        if n % ROWS_PER_FILE == 0:
            if out:
                out.close()
            files.append(directory / f"cards{len(files)}.csv")
            out = open(files[-1], "w")
            out.write(HEADER)
        site = 0 if shared else 1 + k % 255
        out.write(f"{site:03d}{i:05d},123456,654321,1,2,0800-1200-01;,,,,,,,,{owners[k]}\n")
    out.close()
    return files


class Bench:
    def __init__(self, args):
        self.args = args
        self.bin = Path(args.build) / "bin"
        self.doorlinkd = args.doorlinkd or str(self.bin / "doorlinkd")
        self.work = Path(tempfile.mkdtemp(prefix="doorlinkd-bench-"))

    def service(self, name, controllers):
        data = self.work / name
        shutil.rmtree(data, ignore_errors=True)
        base = [self.doorlinkd, "--data-dir", str(data), "--parallel", str(self.args.parallel)]
        subprocess.run(base + ["init"], check=True, stdout=subprocess.DEVNULL)
        for i, (address, mac) in enumerate(controllers):
            subprocess.run(base + ["controller", "add", f"c{i + 1}", address, mac, "--number", str(i + 1)],
                           check=True, stdout=subprocess.DEVNULL)
        return base

    def floor(self, mode, controllers, *args):
        home = self.work / "floor"
        shutil.rmtree(home, ignore_errors=True)
        home.mkdir()
        env = dict(os.environ, DOORLINK_HOME=str(home))
        lines = "".join(f"{a} {m}\n" for a, m in controllers)
        return timed([str(self.bin / "doorlinkd_floor"), mode, str(self.args.parallel), *map(str, args)],
                     env=env, stdin=lines)

    def sync(self, count, shared):
        files = cards_csv(self.work, count, self.args.cards, shared)
        with Simulator(str(self.bin / "doorsim"), count) as sim:
            base = self.service(f"sync-{count}-{shared}", sim.controllers)
            for csv in files:
                subprocess.run(base + ["card", "import", str(csv)], check=True, stdout=subprocess.DEVNULL)
            service = timed(base + ["sync"])
        with Simulator(str(self.bin / "doorsim"), count) as sim:
            floor = self.floor("sync", sim.controllers, self.args.cards, 1 if shared else 0)
        return service, floor

    def archive(self, count):
        records = ("--records", str(self.args.records))
        with Simulator(str(self.bin / "doorsim"), count, *records) as sim:
            base = self.service("archive", sim.controllers)
            service = timed(base + ["archive"])
        with Simulator(str(self.bin / "doorsim"), count, *records) as sim:
            floor = self.floor("archive", sim.controllers)
        return service, floor


def row(name, service, floor, goal, peak_goal=None):
    ratio = service[0] / floor[0]
    verdict = "ok" if ratio <= goal else "over"
    peak = f"  peak {service[1]:7.1f} MiB (floor {floor[1]:7.1f} MiB"
    if peak_goal is not None:
        # What the library takes is in both; the rest is the service's own.
        peak += (f"; goal < {peak_goal} MiB, {'met' if service[1] < peak_goal else 'not met'};"
                 f" {service[1] - floor[1]:.1f} MiB above the floor")
    print(f"{name:<44} {service[0]:8.2f} s {floor[0]:8.2f} s {ratio:6.2f}x (goal <= {goal}x, {verdict})"
          f"{peak})", flush=True)


def best(runs, measure):
    """The fastest of several runs of measure(), for doorlinkd and the floor
    each: a busy spell of the machine falls on one run, not on all."""
    results = [measure() for _ in range(runs)]
    return min((r[0] for r in results), key=lambda m: m[0]), min((r[1] for r in results), key=lambda m: m[0])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--controllers", type=int, default=250)
    parser.add_argument("--cards", type=int, default=5000)
    parser.add_argument("--records", type=int, default=200)
    parser.add_argument("--parallel", type=int, default=16)
    parser.add_argument("--small", type=int, default=50, help="the small fleet of the growth row")
    parser.add_argument("--runs", type=int, default=2, help="runs of each measurement; the fastest counts")
    parser.add_argument("--only", default="shared,own,archive,growth",
                        help="the measurements made, of shared, own, archive and growth")
    parser.add_argument("--doorlinkd", help="the doorlinkd measured (default: the build's)")
    args = parser.parse_args()
    only = set(args.only.split(","))
    bench = Bench(args)
    try:
        n = args.controllers
        print(f"{'':<44} {'doorlinkd':>10} {'floor':>10} {'ratio':>7}")
        if "shared" in only or "growth" in only:
            shared = best(args.runs, lambda: bench.sync(n, True))
            row(f"sync, {n} x {args.cards} cards, the same cards", *shared, 1.25)
        if "own" in only:
            own = best(args.runs, lambda: bench.sync(n, False))
            row(f"sync, {n} x {args.cards} cards, cards of their own", *own, 1.25, OWN_CARDS_PEAK_GOAL_MIB)
        if "archive" in only:
            row(f"archive, {n} x {args.records} records with photos",
                *best(args.runs, lambda: bench.archive(n)), 1.25)
        if "growth" in only:
            small = best(args.runs, lambda: bench.sync(args.small, True))
            per_small = small[0][0] / args.small
            per_full = shared[0][0] / n
            growth = per_full / per_small
            print(f"sync per controller: {per_small:.3f} s at {args.small}, {per_full:.3f} s at {n}: "
                  f"{growth:.2f}x (linear growth keeps it within 1.5x: {'ok' if growth <= 1.5 else 'over'})")
    finally:
        shutil.rmtree(bench.work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
