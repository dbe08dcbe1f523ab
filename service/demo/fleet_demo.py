#!/usr/bin/python3
"""make fleet-demo: a fleet with a policy to look at in the browser.

Starts doorsim with 20 controllers on loopback addresses (records with
photos, new ones as time goes by, and pushed photos and error reports now
and then) and makes a SQLite database in a temporary directory: two sites in
two time zones with 10 controllers each (--per-site N: N each), schedules,
holidays, groups, 300 people imported from a CSV file and a few card rows
beside them. The policy is planned and applied, so the controllers hold it. Runs doorlinkd serve
with its monitoring and schedules; once serve's first sync has verified the
lists, one further change is planned and left waiting to be applied. Prints
the page's URL, the admin token and the waiting plan; Ctrl-C stops
everything and removes the directory.

--setup-only DIR makes the database in DIR (kept) and exits when the plan
waits, with doorsim stopped."""
import argparse
import datetime
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
import urllib.request
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from doorsim_process import Simulator  # noqa: E402

PORT = os.environ.get("FLEET_DEMO_PORT", "8080")
SITES = {"north": "Europe/Berlin", "south": "America/New_York"}
PEOPLE = 300
CARD_ROWS = 8

SCHEDULES = {
    "office": ["--weekdays", "07:30-12:00,13:00-18:30"],
    "weekend": ["--weekend", "09:00-14:00"],
    "cleaning": ["--monday", "19:00-22:00", "--wednesday", "19:00-22:00", "--friday", "19:00-22:00",
                 "--holidays", "open"],
}
# always (every day, all day, holidays too) is built in.
GROUPS = {
    "north-office": ["office@site:north"],
    "south-office": ["office@site:south"],
    "security": ["always@site:north", "always@site:south"],
    "cleaners": ["cleaning@site:north", "cleaning@site:south"],
    "weekend-crew": ["weekend@site:north", "weekend@site:south"],
    "server-room": ["always@controllers:north-01,north-02,south-01"],
}
# The change planned and left waiting: a person of the south office joins
# the server room.
JOINER, JOINED = "e1005", "server-room"
# Minutes between serve's syncs: each verifies the lists anew, which makes a
# plan made before it stale.
SYNC_EVERY = 60

FIRST = ["Ada", "Ben", "Carla", "Dev", "Elif", "Femi", "Greta", "Hugo", "Ines", "Jonas", "Kaja", "Luis",
         "Mira", "Nils", "Olga", "Pavel", "Rosa", "Sami", "Tove", "Uma", "Viktor", "Wen", "Yara", "Zeno"]
LAST = ["Andersen", "Brandt", "Costa", "Dubois", "Eriksen", "Fischer", "Garcia", "Horvat", "Ito", "Jansen",
        "Keller", "Lindqvist", "Moreau", "Novak", "Okafor", "Petrov", "Quinn", "Rossi", "Schmidt", "Tanaka",
        "Umar", "Vogel", "Weber", "Young", "Zhang"]


def person_groups(i):
    """Most people work at one site's office; some guard, clean or come at
    weekends, and a few office people also have the server room."""
    kind = i % 10
    if kind < 4:
        groups = ["north-office"]
    elif kind < 7:
        groups = ["south-office"]
    else:
        groups = [["cleaners", "security", "weekend-crew"][kind - 7]]
    if kind < 7 and i % 12 == 0:
        groups.append("server-room")
    if kind < 7 and i % 15 == 1:
        groups.append("weekend-crew")
    return groups


def person_index(ident):
    return int(ident[1:]) - 1001


def people_rows(today, chance):
    """The people file: names made from the lists above, one card each (two
    for every 25th person), some starting soon, some whose validity ends, one
    whose ended yesterday, and two inactive."""
    rows = ["id,name,email,active,valid_from,valid_until,groups,cards"]
    cards = []
    for i in range(PEOPLE):
        first, last = FIRST[i % len(FIRST)], LAST[(i * 7 + i // len(FIRST)) % len(LAST)]
        email = f"{first}.{last}@example.org".lower() if i % 3 == 0 else ""
        active = "false" if i in (57, 211) else "true"
        start = today + datetime.timedelta(days=14) if i % 40 == 3 else None
        end = today + datetime.timedelta(days=30 + i % 60) if i % 20 == 5 else None
        if i == 99:
            end = today - datetime.timedelta(days=1)
        own = [f"100{10001 + i:05d}"] + ([f"100{20001 + i:05d}"] if i % 25 == 0 else [])
        cards += own
        rows.append(",".join([f"e{1001 + i}", f"{first} {last}", email, active,
                              start.isoformat() if start else "", end.isoformat() if end else "",
                              " ".join(person_groups(i)),
                              " ".join(f"{c}:{200000 + i:06d}:{chance.randrange(10 ** 6):06d}" for c in own)]))
    return "\n".join(rows) + "\n", cards


def controller_names(per_site):
    return [f"{site}-{n:02d}" for site in SITES for n in range(1, per_site + 1)]


def card_rows(chance, controllers):
    """A few cards kept as rows of the card file, beside the people: most go
    everywhere, some to three controllers, some with two time ranges a day or
    a free weekend."""
    rows = ["card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,thursday,friday,"
            "saturday,extra_cards,controllers"]
    cards = []
    for n in range(CARD_ROWS):
        office = "0800-1800-01;" if n % 4 else "0700-1200-01;1300-1900-02;"
        weekend = "1000-1400-03;" if n % 3 == 0 else ""
        places = " ".join(chance.sample(controllers, 3)) if n % 2 else ""
        cards.append(f"001{20000 + n:05d}")
        rows.append(",".join([cards[-1], f"{300000 + n:06d}", f"{chance.randrange(10 ** 6):06d}", str(n % 2),
                              str(n % 3), weekend, office, office, office, office, office, weekend, "", places]))
    return "\n".join(rows) + "\n", cards


class Demo:
    def __init__(self, doorlinkd, doorsim, per_site, directory=None):
        self.controllers = controller_names(per_site)
        self.doorlinkd = doorlinkd
        self.doorsim = doorsim
        self.keep = directory is not None
        if directory is None:
            self.dir = Path(tempfile.mkdtemp(prefix="doorlinkd-fleet-demo-"))
        else:
            self.dir = Path(directory)
            self.dir.mkdir(parents=True, exist_ok=True)
        self.sim = None
        self.serve = None
        self.cards = []
        self.token = None
        self.url = None
        self.stopping = threading.Event()

    def command(self, *args):
        return [self.doorlinkd, "--json", "--db", f"sqlite:{self.dir}/fleet.db", "--data-dir", str(self.dir / "data"),
                *map(str, args)]

    def run(self, *args, allowed=(0, 4)):  # 4: drift remains, or a plan that changes something
        done = subprocess.run(self.command(*args), capture_output=True, text=True)
        if done.returncode not in allowed:
            raise RuntimeError(f"doorlinkd {' '.join(map(str, args))}: {done.stdout}{done.stderr}")
        return json.loads(done.stdout.strip().splitlines()[-1])

    def set_up(self):
        """doorsim, and the database with its policy applied."""
        print(f"Starting doorsim with {len(self.controllers)} controllers ...", flush=True)
        self.sim = Simulator(self.doorsim, len(self.controllers), "--records", 12, "--new-records", 0.02, "--control")
        self.token = self.run("init", "--time-zone", SITES["north"])["admin_token"]
        for site, zone in SITES.items():
            self.run("site", "add", site, "--zone", zone)
        self.run("site", "remove", "main")  # the site init made, left empty
        for name, (address, mac) in zip(self.controllers, self.sim.controllers):
            self.run("controller", "add", name, address, mac, "--site", name.split("-")[0])
        for name, days in SCHEDULES.items():
            self.run("schedule", "add", name, *days)
        self.run("holiday", "add", "north", "2026-12-25", "--yearly", "true")
        self.run("holiday", "add", "south", "2026-11-26")
        for name, grants in GROUPS.items():
            self.run("group", "add", name, *[a for g in grants for a in ("--grant", g)])
        chance = random.Random(7)
        people, self.cards = people_rows(datetime.date.today(), chance)
        (self.dir / "people.csv").write_text(people)
        self.run("person", "import", self.dir / "people.csv")
        rows, row_cards = card_rows(chance, self.controllers)
        self.cards += row_cards
        (self.dir / "cards.csv").write_text(rows)
        self.run("card", "import", self.dir / "cards.csv")
        print(f"{len(self.controllers)} controllers on {len(SITES)} sites, {PEOPLE} people and {CARD_ROWS} card rows "
              f"in {self.dir}; applying ...", flush=True)
        applied = self.run("apply", self.run("plan")["plan"], allowed=(0,))
        print(f"applied revision {applied['revision']}", flush=True)

    def plan_a_change(self):
        """One person joins a group: the plan's number."""
        groups = person_groups(person_index(JOINER)) + [JOINED]
        self.run("person", "change", JOINER, "--groups", " ".join(groups))
        return self.run("plan")["plan"]

    def start(self):
        self.set_up()
        self.url = self.start_serve()
        threading.Thread(target=self.push_now_and_then, daemon=True).start()
        self.wait_for_first_sync()
        plan = self.plan_a_change()
        print(f"\n  Web page:    {self.url}\n  Admin token: {self.token}\n"
              f"  Plan {plan} waits to be applied ({JOINER} joins {JOINED}): open {self.url.rstrip('/')}/#/plan/{plan}\n"
              f"  and Apply, or doorlinkd apply {plan}, or POST /api/v1/plans/{plan}/apply\n"
              f"  (serve's next sync, in {SYNC_EVERY} minutes, makes it stale)\n\n"
              f"  doorlinkd:   {self.doorlinkd} --db sqlite:{self.dir}/fleet.db --data-dir {self.dir}/data\n"
              f"  serve's log: {self.dir}/serve.log\n  Ctrl-C stops everything and removes {self.dir}\n", flush=True)

    def start_serve(self):
        for listen in (f"127.0.0.1:{PORT}", "127.0.0.1:0"):
            with open(self.dir / "serve.log", "a") as log:
                self.serve = subprocess.Popen(
                    self.command("serve", "--http", listen, "--instance", "fleet-demo", "--sync-every", SYNC_EVERY,
                                 "--archive-every", 1),
                    stdout=subprocess.PIPE, stderr=log, text=True)
            line = self.serve.stdout.readline()
            if line:
                return json.loads(line)["http"] + "/"
            self.serve.wait()
            print(f"serve could not listen on {listen}; trying another port", flush=True)
        raise RuntimeError(f"serve did not start: {(self.dir / 'serve.log').read_text()}")

    def api(self, path):
        # Straight to serve on loopback, whatever proxy the environment names.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        request = urllib.request.Request(self.url + path, headers={"Authorization": f"Bearer {self.token}"})
        with opener.open(request, timeout=10) as answer:
            return json.load(answer)

    def wait_for_first_sync(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            runs = [r["id"] for r in self.api("api/v1/sync/runs")["runs"] if r["owner"] == "doorlinkd:fleet-demo"]
            if runs and len(self.api(f"api/v1/sync/runs/{runs[0]}")["results"]) == len(self.controllers):
                return
            time.sleep(0.2)
        raise RuntimeError("serve's first sync did not end within a minute")

    def push_now_and_then(self):
        """A pushed photo of a card every few seconds, and now and then an
        error report, from a controller picked at random."""
        chance = random.Random()
        troubles = ["door held open too long", "tamper alarm on reader 2", "forced open", "lock power low"]
        while not self.stopping.wait(chance.uniform(3, 8)):
            controller = chance.randrange(len(self.controllers)) + 1
            if chance.random() < 0.2:
                line = f"error {controller} {chance.choice(troubles)}"
            else:
                card = chance.choice(self.cards)
                line = f"photo {controller} {int(card[:3])} {int(card[3:])}"
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
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build", help="the build directory (its bin/ has the programs)")
    parser.add_argument("--doorlinkd", help="the doorlinkd program (default: BUILD/bin/doorlinkd)")
    parser.add_argument("--doorsim", help="the doorsim program (default: BUILD/bin/doorsim)")
    parser.add_argument("--per-site", type=int, default=10, help="controllers on each site (2 to 100)")
    parser.add_argument("--setup-only", metavar="DIR", help="make the database in DIR, keep it and exit")
    args = parser.parse_args()
    if not 2 <= args.per_site <= 100:
        parser.error("--per-site takes 2 to 100: the server room's group names north-01, north-02 and south-01")
    bin_dir = Path(args.build).resolve() / "bin"
    args.doorlinkd = args.doorlinkd or str(bin_dir / "doorlinkd")
    args.doorsim = args.doorsim or str(bin_dir / "doorsim")
    return args


def main():
    args = arguments()
    demo = Demo(args.doorlinkd, args.doorsim, args.per_site, args.setup_only)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        if args.setup_only:
            demo.set_up()
            print(json.dumps({"plan": demo.plan_a_change()}), flush=True)
            return 0
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
