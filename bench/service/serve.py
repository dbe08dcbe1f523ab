#!/usr/bin/env python3
"""doorlinkd serve's benchmark, in sections (--only picks some, comma-separated):
  push     error reports pushed at doorsim until an MQTT subscriber has them,
           250 monitored controllers (serve_fleet.py)
  sync     GET /api/v1/controllers at a steady rate during a sync of the
           fleet, and serve's memory (serve_fleet.py)
  trickle  500 connections sending a byte every 2 s while /health and the
           controllers are asked for from elsewhere (slow_clients.py)
  streams  1,000 event streams open and the delay of a new event to all of
           them (event_streams.py)
  rps      requests per second of GET /api/v1/controllers, this build beside
           the old server given with --old-doorlinkd (throughput.py)
  leaver   a person holding cards on 100 controllers of 2,000 cards disabled
           through the API, up to the last read-back confirming (leavers.py)
  import   memory of a 16 MiB import of bad rows, over serve's API and the
           command line (import_memory.py)

    serve.py BUILD_DIR [--only trickle,streams] [--old-doorlinkd PATH] [options]
"""
import argparse
import shlex
import shutil
import sys
import tempfile
from pathlib import Path

import event_streams
import import_memory
import leavers
import serve_fleet
import slow_clients
import throughput
from serve_support import fresh_serve, memory_mib, raise_open_files

from doorsim_process import Simulator  # from the folder serve_support puts on the path

SECTIONS = ["push", "sync", "trickle", "streams", "rps", "import", "leaver"]


def options():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--only", default=",".join(SECTIONS), help="sections, comma-separated (default: all)")
    parser.add_argument("--controllers", type=int, default=250, help="push, sync: the fleet")
    parser.add_argument("--cards", type=int, default=1000, help="sync: cards of each controller")
    parser.add_argument("--rate", type=int, default=100, help="sync: requests per second during it")
    parser.add_argument("--pushes", type=int, default=300, help="push: how many")
    parser.add_argument("--fleet", type=int, default=20, help="trickle, streams, rps, import: controllers")
    parser.add_argument("--sources", type=int, default=32, help="loopback addresses the clients spread over")
    parser.add_argument("--serve-options", default="",
                        help="trickle, streams: more options of their serve, e.g. \"--http-threads 8\"")
    parser.add_argument("--trickle-connections", type=int, default=500)
    parser.add_argument("--trickle-period", type=float, default=2.0, help="seconds between two bytes")
    parser.add_argument("--trickle-seconds", type=float, default=60.0)
    parser.add_argument("--probe-rate", type=float, default=5.0, help="each probe's requests per second")
    parser.add_argument("--probe-timeout", type=float, default=5.0)
    parser.add_argument("--streams", type=int, default=1000)
    parser.add_argument("--stream-events", type=int, default=3, help="errors pushed while they are open")
    parser.add_argument("--old-doorlinkd", help="rps: doorlinkd of the old server, measured beside this build")
    parser.add_argument("--old-revision", default="84abe31", help="rps: what --old-doorlinkd was built from")
    parser.add_argument("--rps-connections", type=int, default=8)
    parser.add_argument("--rps-seconds", type=float, default=10.0, help="rps: seconds of each server, each way")
    parser.add_argument("--rps-rounds", type=int, default=2, help="rps: turns the servers take")
    parser.add_argument("--leaver-controllers", type=int, default=100)
    parser.add_argument("--leaver-cards", type=int, default=2000, help="leaver: cards of each controller")
    parser.add_argument("--leaver-runs", type=int, default=5)
    parser.add_argument("--import-mib", type=int, default=16, help="size of the CSV of bad rows")
    parser.add_argument("--import-timeout", type=float, default=90.0, help="seconds each import may take")
    parser.add_argument("--import-guard-mib", type=int, default=2048,
                        help="VmRSS past which an import is stopped")
    args = parser.parse_args()
    args.sections = [s for s in args.only.split(",") if s]
    unknown = set(args.sections) - set(SECTIONS)
    if unknown:
        parser.error(f"--only: no section {', '.join(sorted(unknown))}; the sections are {', '.join(SECTIONS)}")
    return args


def slow_client_sections(args, doorlinkd, sim):
    """trickle and streams, one after the other on one serve."""
    work = Path(tempfile.mkdtemp(prefix="doorlinkd-serve-slow-"))
    serve = None
    try:
        serve = fresh_serve(doorlinkd, work, sim, *shlex.split(args.serve_options))
        serve.request("GET", "/api/v1/controllers")
        idle_rss, _ = memory_mib(serve.process.pid)
        if "trickle" in args.sections:
            slow_clients.run(serve, args, idle_rss)
        if "streams" in args.sections:
            event_streams.run(serve, sim, args, idle_rss)
    finally:
        if serve:
            serve.stop(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


def main():
    args = options()
    raise_open_files()
    bin_dir = Path(args.build) / "bin"
    doorlinkd = bin_dir / "doorlinkd"
    if {"push", "sync"} & set(args.sections):
        serve_fleet.run(args, bin_dir, args.sections)
    if "leaver" in args.sections:
        leavers.run(args, bin_dir)
    if not {"trickle", "streams", "rps", "import"} & set(args.sections):
        return 0
    with Simulator(str(bin_dir / "doorsim"), args.fleet, "--control") as sim:
        if {"trickle", "streams"} & set(args.sections):
            slow_client_sections(args, doorlinkd, sim)
        if "rps" in args.sections:
            throughput.run(doorlinkd, args.old_doorlinkd, args.old_revision, sim, args)
        if "import" in args.sections:
            import_memory.run(doorlinkd, sim, args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
