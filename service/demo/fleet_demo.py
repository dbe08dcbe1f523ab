#!/usr/bin/python3
"""make fleet-demo: a fleet to look at in the browser.

Starts doorsim with 20 controllers on loopback addresses (records with
photos, new ones as time goes by, and pushed photos and error reports now
and then), makes a SQLite database in a temporary directory with those
controllers and 500 cards, syncs them and runs doorlinkd serve with its
monitoring and schedules. Prints the page's URL and the admin token;
Ctrl-C stops everything and removes the directory."""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from doorsim_process import Simulator  # noqa: E402

CONTROLLERS = 20
CARDS = 500
PORT = os.environ.get("FLEET_DEMO_PORT", "8080")


def card_rows(names, count):
    """count valid cards on sites 1 to 3; most go everywhere, some to a few
    controllers, some with two time ranges a day or a free weekend."""
    header = ("card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,thursday,friday,"
              "saturday,extra_cards,controllers")
    rows = [header]
    chance = random.Random(7)
    for n in range(count):
        site = 1 + n % 3
        office = "0800-1800-01;" if n % 4 else "0700-1200-01;1300-1900-02;"
        weekend = "1000-1400-03;" if n % 7 == 0 else ""
        places = " ".join(chance.sample(names, 3)) if n % 5 == 0 else ""
        rows.append(",".join([f"{site:03d}{20000 + n:05d}", f"{300000 + n:06d}", f"{chance.randrange(10 ** 6):06d}",
                              str(n % 2), str(n % 3), weekend, office, office, office, office, office, weekend, "",
                              places]))
    return "\n".join(rows) + "\n"


class Demo:
    def __init__(self, build):
        bin_dir = Path(build).resolve() / "bin"
        self.doorlinkd = str(bin_dir / "doorlinkd")
        self.doorsim = str(bin_dir / "doorsim")
        self.dir = Path(tempfile.mkdtemp(prefix="doorlinkd-fleet-demo-"))
        self.sim = None
        self.serve = None
        self.stopping = threading.Event()

    def command(self, *args):
        return [self.doorlinkd, "--json", "--db", f"sqlite:{self.dir}/fleet.db", "--data-dir", str(self.dir / "data"),
                *map(str, args)]

    def run(self, *args):
        done = subprocess.run(self.command(*args), capture_output=True, text=True)
        if done.returncode not in (0, 4):  # 4: drift remains, which a demo may show
            raise RuntimeError(f"doorlinkd {' '.join(map(str, args))}: {done.stdout}{done.stderr}")
        return json.loads(done.stdout.strip().splitlines()[-1])

    def start(self):
        print("Starting doorsim with 20 controllers ...", flush=True)
        self.sim = Simulator(self.doorsim, CONTROLLERS, "--records", 12, "--new-records", 0.02, "--control")
        token = self.run("init")["admin_token"]
        names = [f"door{i + 1:02d}" for i in range(CONTROLLERS)]
        for name, (address, mac) in zip(names, self.sim.controllers):
            self.run("controller", "add", name, address, mac)
        cards = self.dir / "cards.csv"
        cards.write_text(card_rows(names, CARDS))
        self.run("card", "import", cards)
        print(f"{CONTROLLERS} controllers and {CARDS} cards in {self.dir}; syncing ...", flush=True)
        self.run("sync")
        url = self.start_serve()
        threading.Thread(target=self.push_now_and_then, daemon=True).start()
        print(f"\n  Web page:    {url}\n  Admin token: {token}\n\n"
              f"  serve's log: {self.dir}/serve.log\n  Ctrl-C stops everything and removes {self.dir}\n", flush=True)

    def start_serve(self):
        for listen in (f"127.0.0.1:{PORT}", "127.0.0.1:0"):
            with open(self.dir / "serve.log", "a") as log:
                self.serve = subprocess.Popen(
                    self.command("serve", "--http", listen, "--instance", "fleet-demo", "--sync-every", 10,
                                 "--archive-every", 1),
                    stdout=subprocess.PIPE, stderr=log, text=True)
            line = self.serve.stdout.readline()
            if line:
                return json.loads(line)["http"] + "/"
            self.serve.wait()
            print(f"serve could not listen on {listen}; trying another port", flush=True)
        raise RuntimeError(f"serve did not start: {(self.dir / 'serve.log').read_text()}")

    def push_now_and_then(self):
        """A pushed photo of a card every few seconds, and now and then an
        error report, from a controller picked at random."""
        chance = random.Random()
        troubles = ["door held open too long", "tamper alarm on reader 2", "forced open", "lock power low"]
        while not self.stopping.wait(chance.uniform(3, 8)):
            controller = chance.randrange(CONTROLLERS) + 1
            if chance.random() < 0.2:
                line = f"error {controller} {chance.choice(troubles)}"
            else:
                n = chance.randrange(CARDS)
                line = f"photo {controller} {1 + n % 3} {20000 + n}"
            try:
                self.sim.control(line)
            except (OSError, RuntimeError, ValueError):
                return  # doorsim is gone

    def stop(self):
        self.stopping.set()
        if self.serve and self.serve.poll() is None:
            self.serve.send_signal(signal.SIGTERM)
            try:
                self.serve.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.serve.kill()
        if self.sim:
            self.sim.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    demo = Demo(sys.argv[1] if len(sys.argv) > 1 else "build")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        demo.start()
        while demo.serve.poll() is None:
            time.sleep(0.5)
        print("serve ended; the end of its log:", file=sys.stderr)
        sys.stderr.write((demo.dir / "serve.log").read_text()[-4000:])
        return 1
    except KeyboardInterrupt:
        print("\nStopping ...", flush=True)
        return 0
    except RuntimeError as e:
        print(f"fleet-demo: {e}", file=sys.stderr)
        return 1
    finally:
        demo.stop()


if __name__ == "__main__":
    sys.exit(main())
